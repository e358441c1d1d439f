#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (run as root).
# Only missing packages are installed, so a prepared machine pays nothing.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix
  wine wine64 xvfb xauth xdotool imagemagick
  libasio-dev googletest openssl libssl-dev libturbojpeg0-dev
  dpkg-dev perl python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing and need root: ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
