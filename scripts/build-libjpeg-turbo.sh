#!/usr/bin/env bash
# Builds static libjpeg-turbo (TurboJPEG API, SIMD code) for the MinGW-w64
# target from Debian's source package, whose patches make the SIMD start-up
# thread-safe, and installs it into a cache folder outside the repository, one
# folder per version, so a second run costs nothing. Prints the install prefix
# as its last line.
set -euo pipefail

JPEG_VERSION="${ORVANE_LIBJPEG_TURBO_VERSION:-1:2.1.5-2}"   # pinned: bookworm's own
cache="${ORVANE_CACHE:-$HOME/.cache/orvane}"
upstream="${JPEG_VERSION#*:}"
upstream="${upstream%%-*}"
prefix="$cache/libjpeg-turbo-$upstream-mingw64"
root="$(cd "$(dirname "$0")/.." && pwd)"

if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

need=()
for p in dpkg-dev cmake make nasm g++-mingw-w64-x86-64-posix; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}" >&2
fi

work="$cache/libjpeg-turbo-src"
# shellcheck source=scripts/debian-source.sh
. "$root/scripts/debian-source.sh"
fetch_debian_source "libjpeg-turbo=$JPEG_VERSION" "$work"

# Its default install prefix is a c:/ path; the SIMD code must be there
# (REQUIRE_SIMD fails the build rather than fall back to plain C).
cmake -S "$work/src" -B "$work/build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=ON -DREQUIRE_SIMD=ON \
  -DWITH_JAVA=OFF >&2
cmake --build "$work/build" -j"$(nproc)" --target turbojpeg-static >&2
mkdir -p "$prefix/include" "$prefix/lib"
cp "$work/src/turbojpeg.h" "$prefix/include/"
cp "$work/build/libturbojpeg.a" "$prefix/lib/"
cp "$work/src/LICENSE.md" "$work/src/README.ijg" "$prefix/"
touch "$prefix/.complete"
rm -rf "$work"
echo "$prefix"
