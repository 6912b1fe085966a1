#!/usr/bin/env bash
# Builds the test suite with the sanitizers and runs it: AddressSanitizer and UndefinedBehavior-
# Sanitizer over every test, ThreadSanitizer over the suites that have threads (the serial
# component and the cycle over the links). Any report fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen
supp="$root/scripts/sanitizers"

asan="${ASAN_BUILD_DIR:-$root/build-asan}"
cmake -S "$root" -B "$asan" -DCMAKE_BUILD_TYPE=Debug -DKX_SANITIZE=address,undefined \
  -DKX_BUILD_BENCH=OFF >/dev/null
cmake --build "$asan" -j"$jobs"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:suppressions=$supp/asan.supp" \
LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$supp/ubsan.supp" \
  ctest --test-dir "$asan" --output-on-failure -j"$jobs" --timeout 600

tsan="${TSAN_BUILD_DIR:-$root/build-tsan}"
cmake -S "$root" -B "$tsan" -DCMAKE_BUILD_TYPE=Debug -DKX_SANITIZE=thread -DKX_BUILD_BENCH=OFF \
  >/dev/null
thread_suites=(link shell e2e)
cmake --build "$tsan" -j"$jobs" --target "${thread_suites[@]/#/test_}"
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp" \
  ctest --test-dir "$tsan" --output-on-failure -j"$jobs" --timeout 600 \
  -L "^($(IFS='|'; echo "${thread_suites[*]}"))\$"
