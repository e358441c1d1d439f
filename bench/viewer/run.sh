#!/usr/bin/env bash
# The viewer's decode cost under Wine (GDI+) against libjpeg-turbo natively on
# the same payloads, and its paint cost.
#   bench/viewer/run.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
ORVANE_OPENSSL_ROOT="$(bash scripts/build-openssl.sh | tail -n 1)"
export ORVANE_OPENSSL_ROOT
cmake --preset bench >/dev/null
cmake --build --preset bench --target viewer_bench_native >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows --target viewer_bench >/dev/null

state="$(mktemp -d)"
frames="$(mktemp -d)"
trap 'scripts/wine-run --state "$state" --cleanup >/dev/null 2>&1; rm -rf "$state" "$frames"' EXIT
scripts/wine-run --state "$state" --setup >/dev/null
scripts/wine-run --state "$state" build/windows/bin/viewer_bench.exe --save "Z:$frames" | tr -d '\r'
echo
build/bench/bench/viewer/viewer_bench_native "$frames"
