#!/usr/bin/env bash
# fuzz.sh [SECONDS] [TARGET...]: builds the libFuzzer targets of tests/fuzz into
# build/fuzz (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and runs each
# named target, or all of them, for SECONDS (30 by default) on a scratch copy of
# its seed corpus in tests/fuzz/corpus/, which stays as it is. Exits non-zero
# when any target fails; the failing input is kept in build/fuzz/artifacts/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-30}
shift || true
build=$root/build/fuzz

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DBRELVIK_SANITIZER=address,undefined -DBRELVIK_FUZZ=ON \
  -DBRELVIK_TESTS=OFF -DBRELVIK_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_targets

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/tests/fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

# Leaks count as findings too; the test suites' settings do not apply here.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0
for target in "${targets[@]}"; do
  topic=${target%_fuzz}
  corpus=$scratch/$topic
  artifacts=$build/artifacts/$topic
  log=$build/logs/$target.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  cp -r "$root/tests/fuzz/corpus/$topic/." "$corpus/"
  options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
    -artifact_prefix="$artifacts/")
  if [ -f "$root/tests/fuzz/$topic.dict" ]; then
    options+=(-dict="$root/tests/fuzz/$topic.dict")
  fi
  if "$build/tests/fuzz/$target" "${options[@]}" "$corpus" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $target ran $runs inputs in $seconds s without a finding"
    passed=$((passed + 1))
  else
    echo "fuzz: $target FAILED; the end of $log:"
    tail -n 40 "$log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
