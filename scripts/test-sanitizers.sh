#!/usr/bin/env bash
# Builds the test suite with the sanitizers and runs it: AddressSanitizer and UndefinedBehavior-
# Sanitizer (with leak detection) over every test, ThreadSanitizer over the suites that have
# threads of ours. Any report fails the run.
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
# The suites whose threads are ours: the file writer (common), the serial component, the USB link,
# the line faults (the window's port on a pseudo-terminal, the USB link's reader, the window's file
# writer) and the soak runs of both links under the window. Not here: e2e and ftdi start programs through QProcess, and after this
# Qt (6.4) has started one, the thread checker no longer sees the main thread take any lock, so
# every lock-guarded hand-over reports (a ten-line program with no code of ours shows it); shell
# has no threads of ours, only Qt's image pool behind the dialogs' painting.
thread_suites=(common link usb faults soak)
cmake --build "$tsan" -j"$jobs" --target "${thread_suites[@]/#/test_}"
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp" \
  ctest --test-dir "$tsan" --output-on-failure -j"$jobs" --timeout 600 \
  -L "^($(IFS='|'; echo "${thread_suites[*]}"))\$"
