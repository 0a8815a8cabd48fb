#!/usr/bin/env bash
# Compares a whole run of the release binary with the unavoidable work
# (bench/unavoidable_work.cpp) on generated clips, in one run so the ratio
# is fair on a noisy machine: runs alternate, and medians are compared.
#
#   bench/measure.sh [BUILD_DIR] [RUNS] [PREVIOUS_TEMPO]
#
# BUILD_DIR comes from the bench preset. PREVIOUS_TEMPO, a tempo binary of
# an earlier release, adds its time, its ratio to this one and its peak
# RSS, measured in the same alternation.
set -euo pipefail
build=${1:-build/bench}
runs=${2:-11}
previous=${3:-}
tempo=$build/tempo
floor=$build/bench/unavoidable_work
beatgen=$build/beatgen
clips=$(mktemp -d)
trap 'rm -rf "$clips"' EXIT

# name bpm rate seconds: the 4- and 20-minute clips and the end-to-end ones.
while read -r name bpm rate seconds; do
  "$beatgen" "$bpm" "$rate" "$seconds" "$clips/$name.wav"
done <<'LIST'
4min-128bpm-44100hz 128 44100 240
20min-128bpm-44100hz 128 44100 1200
e2e-80bpm-44100hz 80 44100 30
e2e-100bpm-22050hz 100 22050 30
e2e-140bpm-48000hz 140 48000 20
e2e-175bpm-32000hz 175 32000 20
LIST

source "$(dirname "$0")/timing.sh"

header='| clip | output | contributing frames | tempo (ms) | unavoidable work (ms) | ratio | tempo peak RSS (KiB) | unavoidable peak RSS (KiB) |'
rule='|---|---|---|---|---|---|---|---|'
[ -n "$previous" ] && header+=' previous (ms) | tempo / previous | previous peak RSS (KiB) |' && rule+='---|---|---|'
printf '%s\n%s\n' "$header" "$rule"
for file in "$clips"/*.wav; do
  # Warm the page cache, then alternate the two programs.
  "$tempo" "$file" > /dev/null; "$floor" "$file" > /dev/null
  ours=(); theirs=(); before=()
  for ((i = 0; i < runs; i++)); do
    ours+=("$(wall_us "$tempo" "$file")")
    theirs+=("$(wall_us "$floor" "$file")")
    [ -n "$previous" ] && before+=("$(wall_us "$previous" "$file")")
  done
  ours_us=$(printf '%s\n' "${ours[@]}" | median)
  floor_us=$(printf '%s\n' "${theirs[@]}" | median)
  rss_ours=$(/usr/bin/time -f %M "$tempo" "$file" 2>&1 >/dev/null | tail -n 1)
  rss_floor=$(/usr/bin/time -f %M "$floor" "$file" 2>&1 >/dev/null | tail -n 1)
  contributing=$("$floor" "$file" | awk '{print $1 " of " $3}')
  awk -v name="$(basename "$file" .wav)" -v out="$("$tempo" "$file")" -v c="$contributing" \
      -v ours="$ours_us" -v floor="$floor_us" -v r1="$rss_ours" -v r2="$rss_floor" \
      'BEGIN { printf "| %s | %s | %s | %.1f | %.1f | %.3f | %s | %s |", name, out, c, ours / 1000, floor / 1000, ours / floor, r1, r2 }'
  if [ -n "$previous" ]; then
    before_us=$(printf '%s\n' "${before[@]}" | median)
    rss_before=$(/usr/bin/time -f %M "$previous" "$file" 2>&1 >/dev/null | tail -n 1)
    [ "$("$previous" "$file")" == "$("$tempo" "$file")" ] || echo "OUTPUTS DIFFER" >&2
    awk -v ours="$ours_us" -v before="$before_us" -v r="$rss_before" \
        'BEGIN { printf " %.1f | %.3f | %s |", before / 1000, ours / before, r }'
  fi
  echo
done
