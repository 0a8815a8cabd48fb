#!/usr/bin/env bash
# Runs every libFuzzer target of a sanitize build for a bounded time, each
# starting from the generated seeds and the saved regression inputs (the
# decoder targets for half the time: see below).
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

# run_target TARGET SECONDS MAX_LEN SEED_DIR...
run_target() {
  local target=$1 time=$2 max_len=$3 corpus log status=0
  shift 3
  corpus=$(mktemp -d)
  # Regular files only: the seed directory also holds a FIFO and symlinks.
  find "$@" "$source_dir/regressions" -maxdepth 1 -type f ! -name README.md -exec cp {} "$corpus/" \;
  echo "== $target: ${time}s from $(ls "$corpus" | wc -l) seeds"
  log=$findings/$target.log
  "$build/fuzz/$target" -max_total_time="$time" -max_len="$max_len" -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" "$corpus" > "$log" 2>&1 || status=$?
  grep -E 'DONE|stat::number_of_executed_units|stat::new_units_added|ERROR|SUMMARY|Test unit written' "$log" || true
  rm -rf "$corpus"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "$target found a failing input (exit $status): see $findings" >&2
    exit 1
  fi
}

for target in wave_header_fuzzer pipeline_fuzzer; do
  run_target $target "$seconds" 16384 "$build/fuzz-seeds"
done
# The tag edits, from the WAVE seeds and, where they were made, the
# encoded clips of every decoder's seeds.
tag_seeds=("$build/fuzz-seeds")
for format in mpeg flac vorbis opus; do
  [ -d "$build/fuzz-seeds-decoders/$format" ] && tag_seeds+=("$build/fuzz-seeds-decoders/$format")
done
run_target tag_bytes_fuzzer "$seconds" 32768 "${tag_seeds[@]}"
# The decoders of the libraries (built where they are found), half the time
# each: their inputs run longer, and CI's whole run must stay short. Their
# seeds are whole small files, up to 17 KiB.
for format in mpeg flac vorbis opus; do
  [ -x "$build/fuzz/${format}_decoder_fuzzer" ] || continue
  run_target "${format}_decoder_fuzzer" $((seconds / 2)) 32768 "$build/fuzz-seeds-decoders/$format"
done
