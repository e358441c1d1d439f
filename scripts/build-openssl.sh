#!/usr/bin/env bash
# Builds static OpenSSL 3.0.x for the MinGW-w64 target from Debian's source
# package and installs it into a cache folder outside the repository, one
# folder per version, so a second run costs nothing. Prints the install prefix
# as its last line.
#
# It never edits the system's apt configuration: deb-src entries are derived
# from the system's own sources into a private list and state folder.
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
apt_dir="$cache/apt-src"
rm -rf "$work" "$apt_dir"
mkdir -p "$work" "$apt_dir/sources.list.d" "$apt_dir/lists/partial"
: > "$apt_dir/sources.list"

# deb-src twins of every source the system uses.
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list > "$apt_dir/sources.list"
fi
for f in /etc/apt/sources.list.d/*.list; do
  [ -e "$f" ] || continue
  sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" > "$apt_dir/sources.list.d/$(basename "$f")"
done
for f in /etc/apt/sources.list.d/*.sources; do
  [ -e "$f" ] || continue
  sed 's/^Types:.*/Types: deb-src/' "$f" > "$apt_dir/sources.list.d/$(basename "$f")"
done

apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list"
          -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
          -o "Dir::State::Lists=$apt_dir/lists")
# A source that has no deb-src side only warns; the download below is what counts.
apt-get "${apt_opts[@]}" update >&2 || true
(cd "$work" && apt-get "${apt_opts[@]}" source --download-only "openssl=$OPENSSL_VERSION" >&2)
(cd "$work" && dpkg-source --no-check -x ./*.dsc src >&2)

cd "$work/src"
./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- \
  no-shared no-tests --prefix="$prefix" --libdir=lib >&2
make -j"$(nproc)" build_libs >&2
make install_dev >&2
touch "$prefix/.complete"
rm -rf "$work" "$apt_dir"
echo "$prefix"
