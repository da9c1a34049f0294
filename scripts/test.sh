#!/usr/bin/env bash
# Sets up, builds and runs the whole suite: a plain build, a debug build with
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, and a short run of each fuzz target. Exits non-zero when any
# test fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Qt is not built with the thread sanitizer and synchronises with its own
# futex-based locks, which the sanitizer cannot see: copies and reallocations
# that Qt makes inside its event queue and file-dialog threads would be reported
# as races. Accesses by code built with the sanitizer are still all checked.
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1

run_suite() {
  local name=$1
  shift
  echo "== $name build"
  "$root/scripts/build.sh" "$@"
  echo "== $name tests"
  ctest --test-dir "$root/build/$name" --output-on-failure -j "$(nproc)" --timeout 300 \
    ${CTEST_LABELS:+-L "$CTEST_LABELS"}
}

run_suite release release RelWithDebInfo ""
echo "== package"
"$root/tests/package/package_test.sh" "$("$root/scripts/package.sh")"
run_suite asan asan Debug "address,undefined"
echo "== fuzz targets, a short run each"
"$root/scripts/fuzz.sh" 20
# Last, so that CTest's summary closes the output.
CTEST_LABELS=threads run_suite tsan tsan Debug thread
