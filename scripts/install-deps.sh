#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (run as root).
# Only missing packages are installed, so a prepared machine pays nothing.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix
  wine wine64 xvfb xauth xdotool imagemagick
  libasio-dev googletest openssl libssl-dev libturbojpeg0-dev
  dpkg-dev perl python3 locales zip nasm libjpeg-turbo-progs
)

# Wine runs with LC_ALL=ru_RU.UTF-8 (the Russian ANSI code page); without that
# locale compiled, glibc falls back to ASCII and Wine cannot name files in
# Cyrillic.
need_locale() {
  ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ] && ! need_locale; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing and needing root: ${missing[*]} ru_RU.UTF-8 locale" >&2
  exit 1
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if need_locale; then
  echo "install-deps: compiling the ru_RU.UTF-8 locale"
  localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
