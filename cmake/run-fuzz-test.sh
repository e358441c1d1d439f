#!/bin/sh
# One short fuzz run as a test. The fuzzer starts from the committed seeds and
# first runs every committed input that once made it fail; what it finds goes
# to a scratch folder, emptied each time, so every run starts alike.
# Usage: run-fuzz-test.sh FUZZER SECONDS SCRATCH SEEDS REGRESSIONS
set -eu
fuzzer=$1 seconds=$2 scratch=$3 seeds=$4 regressions=$5
rm -rf "$scratch"
mkdir -p "$scratch/corpus"
set -- "$seeds"
if [ -d "$regressions" ]; then
  set -- "$@" "$regressions"
fi
exec "$fuzzer" -max_total_time="$seconds" -seed=1 -rss_limit_mb=2048 \
  -artifact_prefix="$scratch/" "$scratch/corpus" "$@"
