#!/usr/bin/env bash
# Builds the release benchmarks and prints every figure as a ratio against a
# reference measured in the same run, as a Markdown table:
#   parsing a page against grep, one download against curl, a whole run against
#   curl's parallel mode, peak memory, the user interface thread's longest stall.
# Needs nginx, curl and grep (scripts/setup.sh installs them). Takes a minute or two.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" >/dev/null
"$root/scripts/build.sh" release RelWithDebInfo "" >/dev/null
bench="$root/build/release/bench"
export QT_QPA_PLATFORM=offscreen

figures=$(mktemp)
trap 'rm -f "$figures"' EXIT
run() {
  # Only the figure lines; the benchmark tables go to stderr when asked for.
  if ! "$@" 2>/dev/null | grep '^figure: ' >>"$figures"; then
    echo "figures: $(basename "$1") printed no figure" >&2
    exit 1
  fi
}
run "$bench/parser_bench" --benchmark_filter=BM_ParseBesideGrep
run "$bench/download_bench" --benchmark_filter=BM_SideBySide
run "$bench/run_bench"

model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo "$(date -u +%Y-%m-%d), $(nproc) processors (${model:-unknown}), $(git -C "$root" rev-parse --short HEAD)"
echo
echo "| figure | ours | reference | reference's | ratio |"
echo "|---|---|---|---|---|"
sed 's/^figure: /| /; s/$/ |/' "$figures"
