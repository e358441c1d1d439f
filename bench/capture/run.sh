#!/usr/bin/env bash
# Runs the capture benchmark on the same generated desktop twice: natively with
# libjpeg-turbo (an optimised build without sanitizers, as the reference) and
# as the Windows build under Wine with the agent's own encoder; then prints
# the ratios, Wine over native.
#   bench/capture/run.sh
set -euo pipefail
cd "$(dirname "$0")/../.."

ORVANE_OPENSSL_ROOT="$(bash scripts/build-openssl.sh | tail -n 1)"
export ORVANE_OPENSSL_ROOT
ORVANE_TURBOJPEG_ROOT="$(bash scripts/build-libjpeg-turbo.sh | tail -n 1)"
export ORVANE_TURBOJPEG_ROOT
cmake -S . -B build/bench-native -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/bench-native --target capture_bench -j2 >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows --target capture_bench >/dev/null

native="$(build/bench-native/bench/capture/capture_bench)"
state="$(mktemp -d)"
trap 'scripts/wine-run --state "$state" --cleanup >/dev/null 2>&1; rm -rf "$state"' EXIT
windows="$(scripts/wine-run --state "$state" build/windows/bin/capture_bench.exe | tr -d '\r')"

echo "=== native, libjpeg-turbo"
grep -v '^RESULT' <<<"$native"
echo
echo "=== Windows build under Wine, the agent's encoder"
grep -v '^RESULT' <<<"$windows"
echo
echo "=== Wine / native"
awk '
  /^RESULT/ {
    key = FILENAME == "-" ? "w" : "n"
    for (i = 3; i <= NF; i++) { split($i, kv, "="); v[key, $2, kv[1]] = kv[2] }
  }
  END {
    printf "%-10s %14s %14s %12s\n", "pattern", "encode_frame", "jpeg only", "bytes"
    n = split("full typing scrolling", names, " ")
    for (i = 1; i <= n; i++) {
      p = names[i]
      printf "%-10s %13.2fx %13.2fx %11.2fx\n", p, v["w", p, "ms"] / v["n", p, "ms"],
             v["w", p, "jpeg_ms"] / v["n", p, "jpeg_ms"], v["w", p, "bytes"] / v["n", p, "bytes"]
    }
    printf "%-10s %13.2fx   (diff only; memcmp %.2fx)\n", "unchanged",
           v["w", "unchanged", "ms"] / v["n", "unchanged", "ms"],
           v["w", "unchanged", "memcmp_ms"] / v["n", "unchanged", "memcmp_ms"]
  }' <(echo "$native") - <<<"$windows"
