#!/usr/bin/env bash
# Runs every benchmark executable of a build and prints the medians and the
# ratios against the baselines.
#
#   scripts/run-benchmarks.sh BUILD_DIR [FILTER]
#
# BUILD_DIR is a configured and built tree (`cmake --build BUILD_DIR --target
# benchmarks`), FILTER a --benchmark_filter regex (default: everything). Each
# benchmark runs 5 times and only the aggregates are reported; quote the
# medians. Results are also saved as JSON under BUILD_DIR/bench-results/.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 BUILD_DIR [FILTER]" >&2
  exit 2
fi
build_dir=$1
filter=${2:-.}

bench_dir="$build_dir/bench"
if [ ! -d "$bench_dir" ]; then
  echo "no benchmarks in $bench_dir: configure with NALO_BUILD_BENCHMARKS=ON and build the 'benchmarks' target" >&2
  exit 1
fi

results_dir="$build_dir/bench-results"
mkdir -p "$results_dir"

found=0
for executable in "$bench_dir"/*; do
  if [ ! -f "$executable" ] || [ ! -x "$executable" ]; then
    continue
  fi
  found=1
  name=$(basename "$executable")
  echo "== $name (load average: $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown))"
  "$executable" \
    --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true \
    --benchmark_filter="$filter" \
    --benchmark_out="$results_dir/$name.json" \
    --benchmark_out_format=json
done

if [ "$found" -eq 0 ]; then
  echo "no benchmark executables in $bench_dir" >&2
  exit 1
fi
