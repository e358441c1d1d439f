#!/usr/bin/env bash
# The main job: builds orvane-relay (for this machine) and orvane.exe, starts a
# local relay on 127.0.0.1:56000 and the agent under Wine in build/run/ with
# its own Wine prefix and a virtual display. The agent registers at the relay
# and prints its ID block. Ctrl+C stops both.
# Usage: scripts/run.sh [agent arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

bash scripts/install-deps.sh
ORVANE_OPENSSL_ROOT="$(bash scripts/build-openssl.sh | tail -n 1)"
export ORVANE_OPENSSL_ROOT
cmake --preset native >/dev/null
cmake --build --preset native --target orvane-relay
cmake --preset windows >/dev/null
cmake --build --preset windows --target orvane

run="$root/build/run"
mkdir -p "$run"
cp build/windows/bin/orvane.exe "$run/"
bash scripts/make-cert.sh "$run"

build/native/relay/orvane-relay --listen 127.0.0.1:56000 > "$run/relay.log" 2>&1 &
relay=$!
trap 'kill $relay 2>/dev/null || true' EXIT
echo "=== Relay on 127.0.0.1:56000 (log: $run/relay.log)"
echo "=== Agent folder: $run (server.ini, banlist.txt, server.crt, server.key)"
cd "$run"
"$root/scripts/wine-run" --state "$root/build/run-wine" ./orvane.exe "$@"
