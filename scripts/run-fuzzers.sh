#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a fixed time and fails when any
# of them finds a fault.
#
#   scripts/run-fuzzers.sh BUILD_DIR SECONDS
#
# For a target BUILD_DIR/fuzz/NAME_fuzzer the seeds are the directories listed
# in fuzz/NAME.seeds plus the kept inputs in fuzz/corpus/NAME/; they are copied
# into a scratch corpus under BUILD_DIR (the source tree is never written),
# and fuzz/NAME.dict is the dictionary. Faulting inputs land in
# BUILD_DIR/fuzz-artifacts/NAME/; minimize one and keep it in fuzz/corpus/NAME/.
# FUZZ_SKIP names targets to leave out (space-separated NAMEs); each one left
# out is said.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd)
seconds=$2
source_dir=$(cd "$(dirname "$0")/.." && pwd)

targets=()
for executable in "$build_dir"/fuzz/*_fuzzer; do
  if [ -f "$executable" ] && [ -x "$executable" ]; then
    name=$(basename "$executable" _fuzzer)
    if [[ " ${FUZZ_SKIP:-} " == *" $name "* ]]; then
      echo "== $name left out (FUZZ_SKIP)"
      continue
    fi
    targets+=("$executable")
  fi
done
if [ "${#targets[@]}" -eq 0 ]; then
  echo "no fuzz targets in $build_dir/fuzz: configure with the 'fuzz' preset and build" >&2
  exit 1
fi

failed=()
for executable in "${targets[@]}"; do
  name=$(basename "$executable" _fuzzer)
  corpus="$build_dir/fuzz-corpus/$name"
  artifacts="$build_dir/fuzz-artifacts/$name"
  rm -rf "$corpus"
  mkdir -p "$corpus" "$artifacts"

  seeds_file="$source_dir/fuzz/$name.seeds"
  if [ -f "$seeds_file" ]; then
    while IFS= read -r seed_dir; do
      case "$seed_dir" in ''|'#'*) continue ;; esac
      if [ ! -d "$source_dir/$seed_dir" ]; then
        echo "$name: missing seed directory $seed_dir" >&2
        exit 1
      fi
      find "$source_dir/$seed_dir" -type f -exec cp {} "$corpus/" \;
    done < "$seeds_file"
  fi
  if [ -d "$source_dir/fuzz/corpus/$name" ]; then
    find "$source_dir/fuzz/corpus/$name" -type f -exec cp {} "$corpus/" \;
  fi

  options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  if [ -f "$source_dir/fuzz/$name.dict" ]; then
    options+=(-dict="$source_dir/fuzz/$name.dict")
  fi

  echo "== $name for ${seconds}s ($(find "$corpus" -type f | wc -l) seed inputs)"
  if ! "$executable" "${options[@]}" "$corpus"; then
    failed+=("$name")
    echo "$name found a fault; inputs in $artifacts" >&2
  fi
done

if [ "${#failed[@]}" -ne 0 ]; then
  echo "fuzz targets with faults: ${failed[*]}" >&2
  exit 1
fi
echo "all fuzz targets ran ${seconds}s without a fault"
