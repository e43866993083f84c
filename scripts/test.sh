#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, runs every test; then
# builds again under AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# tests a second time (the long real-time end-to-end runs once, in the first pass);
# last, the unit tests of the threaded layers (label "threaded") under ThreadSanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc)

# Runs one build's tests: the end-to-end runs (and the installation's) drive real windows in real time on a
# shared machine, so one of them that fails is tried once more (the log keeps both);
# every other test has one chance, since a retry would hide a flaky one.
# Usage: run_tests DIR [LABELS-TO-LEAVE-OUT]
run_tests() {
  local dir=$1 skip=${2:-}
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 -LE "^(e2e|install${skip:+|$skip})\$"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 -L '^(e2e|install)$' ${skip:+-LE "^($skip)\$"} \
    --repeat until-pass:2
}

scripts/install-deps.sh

echo "== build (warnings as errors)"
scripts/build.sh build -DRQ_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests"
run_tests build

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
scripts/build.sh build-asan -DRQ_WERROR=ON -DRQ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DRQ_BUILD_BENCH=OFF
echo "== tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$here/tests/lsan.supp \
  run_tests build-asan long

echo "== build (ThreadSanitizer: the threaded layers' unit tests and the daemon they start)"
tsan_start=$SECONDS
# -O1 with line tables only: about as fast to run as -O2 under the sanitizer, quicker to build.
cmake -S "$here" -B build-tsan -G Ninja -DRQ_WERROR=ON -DRQ_TSAN=ON -DRQ_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1" >/dev/null
cmake --build build-tsan --parallel "$jobs" --target hw_tests driver_tests engine_tests verify_tests app_tests ZQ_I2cIo
echo "== threaded tests under ThreadSanitizer"
# halt_on_error: a race fails its test. Qt is not built with the sanitizer; the
# suppressions name only what it cannot see through there.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$here/tests/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure --no-tests=error -j "$jobs" --timeout 600 -L threaded -LE long
echo "== ThreadSanitizer pass: $((SECONDS - tsan_start)) s"
