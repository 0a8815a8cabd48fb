#!/usr/bin/env bash
# Runs every libFuzzer target of a sanitize build for a bounded time, each
# starting from the generated seeds and the saved regression inputs.
#
#   fuzz/run.sh BUILD_DIR SECONDS_PER_TARGET
#
# Fails on the first finding; the input that triggered it is left in
# BUILD_DIR/fuzz-findings, to be kept in fuzz/regressions once fixed.
set -euo pipefail
build=${1:?build directory}
seconds=${2:-60}
source_dir=$(cd "$(dirname "$0")" && pwd)
findings=$build/fuzz-findings
mkdir -p "$findings"

for target in wave_header_fuzzer pipeline_fuzzer; do
  corpus=$(mktemp -d)
  # Regular files only: the seed directory also holds a FIFO and symlinks.
  find "$build/fuzz-seeds" "$source_dir/regressions" -maxdepth 1 -type f ! -name README.md \
    -exec cp {} "$corpus/" \;
  echo "== $target: ${seconds}s from $(ls "$corpus" | wc -l) seeds"
  log=$findings/$target.log
  status=0
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" "$corpus" > "$log" 2>&1 || status=$?
  grep -E 'DONE|stat::number_of_executed_units|stat::new_units_added|ERROR|SUMMARY|Test unit written' "$log" || true
  rm -rf "$corpus"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "$target found a failing input (exit $status): see $findings" >&2
    exit 1
  fi
done
