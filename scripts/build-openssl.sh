#!/usr/bin/env bash
# Builds static OpenSSL 3.0.x for the MinGW-w64 target from Debian's source
# package and installs it into a cache folder outside the repository, one
# folder per version, so a second run costs nothing. Prints the install prefix
# as its last line.
#
# The source comes through debian-source.sh, which never edits the system's
# apt configuration.
set -euo pipefail

OPENSSL_VERSION="${ORVANE_OPENSSL_VERSION:-3.0.17-1~deb12u2}"   # pinned: the bookworm release archive keeps it
cache="${ORVANE_CACHE:-$HOME/.cache/orvane}"
upstream="${OPENSSL_VERSION%%-*}"
prefix="$cache/openssl-$upstream-mingw64"

if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

need=()
for p in dpkg-dev perl make g++-mingw-w64-x86-64-posix; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}" >&2
fi

work="$cache/openssl-src"
# shellcheck source=scripts/debian-source.sh
. "$(dirname "$0")/debian-source.sh"
fetch_debian_source "openssl=$OPENSSL_VERSION" "$work"

cd "$work/src"
./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- \
  no-shared no-tests --prefix="$prefix" --libdir=lib >&2
make -j"$(nproc)" build_libs >&2
make install_dev >&2
touch "$prefix/.complete"
rm -rf "$work"
echo "$prefix"
