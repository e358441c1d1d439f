#!/usr/bin/env bash
# The viewer's decode cost under Wine against libjpeg-turbo natively on the
# same payloads, the ratio of the two, and the viewer's paint cost.
#   bench/viewer/run.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
ORVANE_OPENSSL_ROOT="$(bash scripts/build-openssl.sh | tail -n 1)"
export ORVANE_OPENSSL_ROOT
ORVANE_TURBOJPEG_ROOT="$(bash scripts/build-libjpeg-turbo.sh | tail -n 1)"
export ORVANE_TURBOJPEG_ROOT
cmake --preset bench >/dev/null
cmake --build --preset bench --target viewer_bench_native >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows --target viewer_bench >/dev/null

state="$(mktemp -d)"
frames="$(mktemp -d)"
trap 'scripts/wine-run --state "$state" --cleanup >/dev/null 2>&1; rm -rf "$state" "$frames"' EXIT
scripts/wine-run --state "$state" --setup >/dev/null
windows="$(scripts/wine-run --state "$state" build/windows/bin/viewer_bench.exe --save "Z:$frames" | tr -d '\r')"
native="$(build/bench/bench/viewer/viewer_bench_native "$frames")"
grep -v '^RESULT' <<<"$windows"
echo
grep -v '^RESULT' <<<"$native"
echo
echo "=== decode_frame under Wine / native libjpeg-turbo"
awk '
  /^RESULT/ {
    key = FILENAME == "-" ? "w" : "n"
    split($3, kv, "="); v[key, $2] = kv[2]
  }
  END {
    n = split("full typing scrolling", names, " ")
    for (i = 1; i <= n; i++)
      printf "%-10s %8.2f ms / %8.2f ms = %5.2fx\n", names[i], v["w", names[i]],
             v["n", names[i]], v["w", names[i]] / v["n", names[i]]
  }' <(echo "$native") - <<<"$windows"
