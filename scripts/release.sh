#!/usr/bin/env bash
# Builds a release: optimised, stripped binaries, packed for the person at a
# Windows machine and for the admin of a relay, with SHA256SUMS.
#
#   bash scripts/release.sh [--out DIR] RELAY_HOST[:PORT]
#
# RELAY_HOST[:PORT] (port 56000 unless given) goes into every fresh server.ini
# of this release's orvane.exe. DIR defaults to dist/. Writes there:
#   orvane-VERSION-win64.zip                    orvane.exe, README.txt, THIRD-PARTY.txt
#   orvane-relay-VERSION-linux-x86_64.tar.gz    orvane-relay, its systemd unit, README.txt
#   orvane-relay-VERSION-win64.zip              orvane-relay.exe, README.txt, THIRD-PARTY.txt
#   SHA256SUMS
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

die() {
  echo "release: $*" >&2
  exit 2
}

out="$root/dist"
if [ "${1:-}" = "--out" ]; then
  [ -n "${2:-}" ] || die "--out needs a folder"
  out="$2"
  shift 2
fi
if [ $# -ne 1 ] || [ -z "$1" ]; then
  cat >&2 <<'EOF'
release: no relay host given, so no release is built.
Every fresh orvane.exe writes the relay it was built with into its server.ini
and registers there; built without one, it would point at 127.0.0.1, register
nowhere and retry for ever. Name the relay this release's agents use:
  bash scripts/release.sh [--out DIR] RELAY_HOST[:PORT]     (PORT defaults to 56000)
EOF
  exit 2
fi

relay="$1"
host="$relay"
port=56000
if [[ "$relay" == *:* ]]; then
  host="${relay%:*}"
  port="${relay##*:}"
fi
# getaddrinfo on the agent resolves IPv4 only: a host name or IPv4 address.
[[ "$host" =~ ^[A-Za-z0-9][A-Za-z0-9.-]*$ ]] && [ ${#host} -le 127 ] ||
  die "'$host' is not a host name or IPv4 address (letters, digits, dots and hyphens, at most 127)"
[[ "$port" =~ ^[1-9][0-9]{0,4}$ ]] && [ "$port" -le 65535 ] || die "'$port' is not a port (1-65535)"
out="$(mkdir -p "$out" && cd "$out" && pwd)"

bash scripts/install-deps.sh
ORVANE_OPENSSL_ROOT="$(bash scripts/build-openssl.sh | tail -n 1)"
export ORVANE_OPENSSL_ROOT
ORVANE_TURBOJPEG_ROOT="$(bash scripts/build-libjpeg-turbo.sh | tail -n 1)"
export ORVANE_TURBOJPEG_ROOT

echo "=== release for relay $host:$port: orvane.exe and orvane-relay.exe"
cmake --preset release -DORVANE_DEFAULT_RELAY="$host" -DORVANE_DEFAULT_RELAY_PORT="$port" >/dev/null
cmake --build --preset release
echo "=== release: orvane-relay for Linux"
cmake --preset relay >/dev/null
cmake --build --preset relay

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)"
[ -n "$version" ] || die "no project version in build/release/CMakeCache.txt"
[ -f THIRD-PARTY.md ] || die "THIRD-PARTY.md (the notices of what the Windows programs link) is missing"

# The newest glibc and libstdc++ symbol versions the Linux relay needs.
newest() {
  objdump -T build/relay/relay/orvane-relay | grep -o "$1_[0-9.]*" | sed "s/^$1_//" |
    sort -V | tail -n 1
}
glibc="$(newest GLIBC)"
glibcxx="$(newest GLIBCXX)"

# The texts' placeholders filled in. Texts for Windows get CR LF line ends;
# the user's README also a UTF-8 mark, so that every Notepad reads its Cyrillic.
fill() {
  sed "s|@VERSION@|$version|g; s|@RELAY@|$host:$port|g; s|@GLIBC@|$glibc|g;
       s|@GLIBCXX@|$glibcxx|g" "$1"
}
crlf() { sed 's/\r$//; s/$/\r/' "$1"; }

stage="$root/build/release/package"
rm -rf "$stage"
win="$stage/orvane-$version-win64"
lin="$stage/orvane-relay-$version-linux-x86_64"
relay_win="$stage/orvane-relay-$version-win64"
mkdir -p "$win" "$lin" "$relay_win"

x86_64-w64-mingw32-strip -o "$win/orvane.exe" build/release/bin/orvane.exe
{ printf '\xef\xbb\xbf'; fill packaging/windows/README.txt | crlf /dev/stdin; } > "$win/README.txt"
crlf THIRD-PARTY.md > "$win/THIRD-PARTY.txt"

strip -o "$lin/orvane-relay" build/relay/relay/orvane-relay
chmod 0755 "$lin/orvane-relay"
cp packaging/relay/orvane-relay.service "$lin/"
fill packaging/relay/README.txt > "$lin/README.txt"

x86_64-w64-mingw32-strip -o "$relay_win/orvane-relay.exe" build/release/bin/orvane-relay.exe
fill packaging/relay/README.txt | crlf /dev/stdin > "$relay_win/README.txt"
cp "$win/THIRD-PARTY.txt" "$relay_win/"

# Archives hold no owner of this machine; zips hold the files at their top,
# as a Windows user's "Extract all" expects.
mkdir -p "$out"
(cd "$out" && rm -f orvane-*-win64.zip orvane-relay-*-linux-x86_64.tar.gz SHA256SUMS)
(cd "$win" && zip -q -X "$out/$(basename "$win").zip" orvane.exe README.txt THIRD-PARTY.txt)
(cd "$relay_win" && zip -q -X "$out/$(basename "$relay_win").zip" orvane-relay.exe README.txt THIRD-PARTY.txt)
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner \
  -czf "$out/$(basename "$lin").tar.gz" "$(basename "$lin")"
(cd "$out" && sha256sum "$(basename "$win").zip" "$(basename "$lin").tar.gz" \
  "$(basename "$relay_win").zip" > SHA256SUMS)

echo "=== release $version for relay $host:$port in $out:"
(cd "$out" && cat SHA256SUMS)
