#!/usr/bin/env bash
# Runs every fuzz target in turn, each for MINUTES (default 10) or until it has
# run INPUTS inputs, on all cores (ORVANE_FUZZ_JOBS processes, default one per
# core). Each target keeps its corpus in the cache folder (~/.cache/orvane/fuzz
# or $ORVANE_CACHE/fuzz), so runs add up; the seeds committed under tests/ and
# the inputs that once made it fail are read too. Prints per target the inputs
# run, the coverage and any failure with its input; a failing input is copied
# into the target's regressions/ folder in the source tree, to be committed so
# that the test command replays it.
# Usage: scripts/fuzz.sh [MINUTES [INPUTS]]   (exits non-zero when one failed)
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${1:-10}
inputs=${2:-}
jobs=${ORVANE_FUZZ_JOBS:-$(nproc)}
cache="${ORVANE_CACHE:-$HOME/.cache/orvane}/fuzz"

bash scripts/install-deps.sh
cmake --preset native >/dev/null
list=build/native/fuzz-targets.tsv
mapfile -t targets < <(cut -f1 "$list")
mkdir -p "$cache"
if ! cmake --build --preset native --target "${targets[@]}" >"$cache/build.log" 2>&1; then
  tail -n 40 "$cache/build.log"
  exit 1
fi

load() { cut -d' ' -f1-3 /proc/loadavg; }

# The last progress line of a fork-mode run: "#N: cov: C ft: F corp: K exec/s E ..."
stat_of() { # LOG FIELD
  grep -E '^#[0-9]+: cov:' "$1" | tail -n 1 |
    awk -v f="$2" '{ for (i = 1; i < NF; i++) if ($i == f) { print $(i + 1); exit } }
                   f == "inputs" { sub(/^#/, "", $1); sub(/:$/, "", $1); print $1; exit }'
}

status=0
summary=()
while IFS=$'\t' read -r name binary seeds regressions; do
  corpus="$cache/$name"
  found="$cache/$name.found"
  log="$cache/$name.log"
  rm -rf "$found"
  mkdir -p "$corpus" "$found"
  dirs=("$corpus" "$seeds")
  [ -d "$regressions" ] && dirs+=("$regressions")
  flags=(-fork="$jobs" -max_total_time=$((minutes * 60)) -rss_limit_mb=2048
         -artifact_prefix="$found/")
  [ -n "$inputs" ] && flags+=(-runs="$inputs")

  echo "=== $name: $(find "$corpus" -type f | wc -l) inputs in $corpus, load $(load)"
  start=$SECONDS
  rc=0
  "$binary" "${flags[@]}" "${dirs[@]}" >"$log" 2>&1 || rc=$?
  seconds=$((SECONDS - start))
  runs=$(stat_of "$log" inputs)
  result=ok
  for input in "$found"/*; do
    [ -e "$input" ] || continue
    result=FAILED
    mkdir -p "$regressions"
    cp "$input" "$regressions/"
    echo "--- $name failed on $(basename "$input") ($(stat -c %s "$input") bytes), now in $regressions/:"
    grep -m 3 -E 'ERROR: |SUMMARY: ' "$log" || true
    # Where it happened: the first frames of the stack outside libFuzzer and libc.
    grep -E '^ +#[0-9]+ ' "$log" |
      grep -v -E 'fuzzer::|__sanitizer|libc\.so|nptl/|stdlib/|signal/' | head -n 4 || true
    od -A x -t x1z -v "$input" | head -n 16
  done
  if [ "$result" = ok ] && [ "$rc" -ne 0 ]; then
    result="FAILED (exit $rc, see $log)"
  fi
  [ "$result" = ok ] || status=1
  line=$(printf '%-20s %12s %8s %6s %6s %7s %6ss  %s' "$name" "${runs:--}" \
    "$(( ${runs:-0} / (seconds > 0 ? seconds : 1) ))" "$(stat_of "$log" cov:)" \
    "$(stat_of "$log" ft:)" "$(stat_of "$log" corp:)" "$seconds" "$result")
  echo "$line   (load $(load))"
  summary+=("$line")
done <"$list"

echo
printf '%-20s %12s %8s %6s %6s %7s %7s  %s\n' target inputs "inputs/s" cov features corpus time result
printf '%s\n' "${summary[@]}"
exit $status
