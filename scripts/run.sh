#!/usr/bin/env bash
# The main job: builds orvane.exe and runs the agent under Wine in a run folder
# (build/run) with its own Wine prefix and a virtual display, until Ctrl+C.
# Usage: scripts/run.sh [agent arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

bash scripts/install-deps.sh
ORVANE_OPENSSL_ROOT="$(bash scripts/build-openssl.sh | tail -n 1)"
export ORVANE_OPENSSL_ROOT
cmake --preset windows >/dev/null
cmake --build --preset windows --target orvane

run="$root/build/run"
mkdir -p "$run"
cp build/windows/bin/orvane.exe "$run/"
bash scripts/make-cert.sh "$run"

echo "=== Agent folder: $run (server.ini, banlist.txt, server.crt, server.key)"
cd "$run"
exec "$root/scripts/wine-run" --state "$root/build/run-wine" ./orvane.exe "$@"
