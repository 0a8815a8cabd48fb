#!/usr/bin/env bash
# What the grid (bars, downbeats, whole-number snapping, loops) costs: the
# default scan of a generated library by this build against a build of the
# release before it, and this build's scan with --beats (JSON Lines)
# against the same scan without. The library: 12 beatgen clips of 120 s at
# tempos from 72 to 172 BPM, as 16-bit WAVE and as FLAC. Runs alternate;
# the medians of the CPU time (user and system, steadier than wall time on
# a shared machine) are compared, in one run of this script.
#
#   bench/grid_cost.sh BUILD_DIR BASE_BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
base=$(cd "$2" && pwd)
runs=${3:-5}
here=$(dirname "$0")
. "$here/timing.sh"
cmake --build "$build" --target tempo-scan beatgen > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/library"
for bpm in 72 81 90 99 108 117 126 135 144 153 162 172; do
  "$build/beatgen" "$bpm" 44100 120 "$work/library/clip-$bpm.wav" 0.1
  ffmpeg -nostdin -loglevel error -y -i "$work/library/clip-$bpm.wav" "$work/library/clip-$bpm.flac"
done
: > "$work/times"
for ((run = 0; run < runs; run++)); do
  for what in base default plain beats; do
    case $what in
      base) line=$(wall_cpu_us "$base/tempo-scan" --no-progress -j 1 "$work/library") ;;
      default) line=$(wall_cpu_us "$build/tempo-scan" --no-progress -j 1 "$work/library") ;;
      plain) line=$(wall_cpu_us "$build/tempo-scan" --no-progress -j 1 --format jsonl "$work/library") ;;
      beats) line=$(wall_cpu_us "$build/tempo-scan" --no-progress -j 1 --format jsonl --beats "$work/library") ;;
    esac
    echo "$what $line" >> "$work/times"
  done
done
cpu() { awk -v w="$1" '$1 == w { print $3 }' "$work/times" | median; }
b=$(cpu base) d=$(cpu default) p=$(cpu plain) t=$(cpu beats)
awk -v b="$b" -v d="$d" -v p="$p" -v t="$t" 'BEGIN {
  printf "CPU seconds (median of the runs): base %.2f, default %.2f, jsonl %.2f, jsonl --beats %.2f\n", b / 1e6, d / 1e6, p / 1e6, t / 1e6
  printf "default scan against the base: %.2fx (at most 1.2x)\n", d / b
  printf "--beats against the same scan without it: %.2fx (at most 1.5x)\n", t / p
}'
