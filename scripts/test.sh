#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, runs every test; then
# builds again under AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# tests a second time (the long real-time end-to-end runs once, in the first pass).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc)

scripts/install-deps.sh

echo "== build (warnings as errors)"
scripts/build.sh build -DRQ_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests"
# The end-to-end runs drive real windows in real time on a shared machine; a run
# that fails is tried once more, and the log keeps both.
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600 --repeat until-pass:2

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
scripts/build.sh build-asan -DRQ_WERROR=ON -DRQ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DRQ_BUILD_BENCH=OFF
echo "== tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$here/tests/lsan.supp \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600 -LE long --repeat until-pass:2
