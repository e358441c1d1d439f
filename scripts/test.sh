#!/usr/bin/env bash
# Builds everything and runs every test: the portable code natively (clang,
# AddressSanitizer, UBSan, fuzzers) and the Windows build under Wine.
# Usage: scripts/test.sh            (from any directory; exits non-zero on failure)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
ORVANE_OPENSSL_ROOT="$(bash scripts/build-openssl.sh | tail -n 1)"
export ORVANE_OPENSSL_ROOT
ORVANE_TURBOJPEG_ROOT="$(bash scripts/build-libjpeg-turbo.sh | tail -n 1)"
export ORVANE_TURBOJPEG_ROOT

status=0
for preset in native windows; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset: tests"
  ctest --preset "$preset" || status=1
done
exit $status
