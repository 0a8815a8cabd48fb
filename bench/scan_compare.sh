#!/usr/bin/env bash
# tempo-scan against the pipeline a user writes today: find | xargs -P, each
# file converted by ffmpeg into a temporary WAVE and tempo run on it. The
# library is generated: "mixed" (the default) holds 30 FLAC, 30 MP3 and 30
# 16-bit WAVE clips of 60 s; "mp3", "ogg", "flac" and "wav" hold 30 songs
# of 3 to 5 minutes in that one format. Runs alternate, medians are
# compared, and every tempo of the classic method must agree with the
# pipeline's. Both methods are timed, so the accurate method's cost shows
# as a ratio to the classic one. With "tags" after the library, the cost of
# writing tags is timed instead: a first --write-tags run over a fresh copy
# of the library (every file written through a verified copy) and a second
# one (nothing left to write), each against the same scan without tags.
# With "db", the cost of the index (--db) is timed: a first run that fills
# a new index against the same scan without one, and a second run over an
# unchanged library of 1,000 files (copies of ten short clips: each a file
# of its own), which stats the files and reads the index and starts no decoder
# (it runs with no decoder at all, and must report every file as before).
#
#   bench/scan_compare.sh [BUILD_DIR] [RUNS] [LIBRARY] [tags|db]   (BUILD_DIR: release or test preset)
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
runs=${2:-5}
library=${3:-mixed}
mode=${4:-speed}
jobs=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lib"

# encode SOURCE OUTPUT: by the output's extension.
encode() {
  case $2 in
    *.flac) ffmpeg -nostdin -loglevel error -y -i "$1" -c:a flac "$2" ;;
    *.mp3) ffmpeg -nostdin -loglevel error -y -i "$1" -c:a libmp3lame -b:a 192k "$2" ;;
    *.ogg) ffmpeg -nostdin -loglevel error -y -i "$1" -c:a libvorbis "$2" ;;
    *.wav) cp "$1" "$2" ;;
  esac
}
for i in $(seq 0 29); do
  bpm=$((80 + 3 * i))
  if [ "$library" == mixed ]; then
    "$build/beatgen" $bpm 44100 60 "$work/src.wav"
    for ext in flac mp3 wav; do mkdir -p "$work/lib/$ext" && encode "$work/src.wav" "$work/lib/$ext/clip$i-$bpm.$ext"; done
  else
    "$build/beatgen" $bpm 44100 $((180 + 4 * i)) "$work/src.wav"
    encode "$work/src.wav" "$work/lib/song$i-$bpm.$library"
  fi
done
rm "$work/src.wav"

export TEMPO="$build/tempo"
pipeline() {
  find "$work/lib" -type f -print0 | xargs -0 -P "$jobs" -n 1 sh -c '
    tmp=$(mktemp --suffix=.wav)
    ffmpeg -nostdin -loglevel error -y -i "$1" -map 0:a:0 -acodec pcm_s16le -ac 2 "$tmp" &&
      printf "%s\t%s\n" "$("$TEMPO" "$tmp")" "$1"
    rm -f "$tmp"' _
}
# The floor under any scan through ffmpeg: each file decoded and converted
# as tempo-scan asks, into nothing.
decode_only() {
  find "$work/lib" -type f -print0 | xargs -0 -P "$jobs" -I{} ffmpeg -nostdin -loglevel error -i {} \
    -map 0:a:0 -acodec pcm_s16le -ac 2 -f null -
}
# scan JOBS [METHOD]
scan() { "$build/tempo-scan" --no-progress -j "$1" --method "${2:-classic}" "$work/lib"; }
source "$(dirname "$0")/timing.sh"

if [ "$mode" == tags ]; then
  # tagged ARGS...: tempo-scan with tags over the copy in $work/tagged.
  tagged() { "$build/tempo-scan" --no-progress -j "$jobs" "$@" "$work/tagged"; }
  fresh() { rm -rf "$work/tagged" && cp -a "$work/lib" "$work/tagged" && sync; }
  fresh
  written=$(tagged --write-tags | cut -f3 | grep -c '^written$' || true)
  files=$(find "$work/lib" -type f | wc -l)
  [ "$written" -eq "$files" ] || { echo "only $written of $files files were written" >&2; exit 1; }
  plain=(); first=(); second=()
  for ((i = 0; i < runs; i++)); do
    fresh
    plain+=("$(wall_us tagged)")
    first+=("$(wall_us tagged --write-tags)")
    second+=("$(wall_us tagged --write-tags)")
  done
  plain_us=$(printf '%s\n' "${plain[@]}" | median)
  first_us=$(printf '%s\n' "${first[@]}" | median)
  second_us=$(printf '%s\n' "${second[@]}" | median)
  echo "library $library: $files files, all written by the first run; medians of $runs alternating runs on $jobs CPUs"
  echo
  echo "| run | wall time (s) | ratio to the scan without tags |"
  echo "|---|---|---|"
  awk -v p="$plain_us" -v f="$first_us" -v s="$second_us" -v j="$jobs" 'BEGIN {
    printf "| tempo-scan -j %d (no tags) | %.2f | 1.000 |\n", j, p / 1e6
    printf "| tempo-scan -j %d --write-tags, first run (every file written and verified) | %.2f | %.3f |\n", j, f / 1e6, f / p
    printf "| tempo-scan -j %d --write-tags, second run (nothing to write) | %.2f | %.3f |\n", j, s / 1e6, s / p
  }'
  exit 0
fi

if [ "$mode" == db ]; then
  indexed() { rm -f "$work/index.db"*; "$build/tempo-scan" --no-progress -j "$jobs" --db "$work/index.db" "$work/lib"; }
  plain=(); first=()
  for ((i = 0; i < runs; i++)); do
    plain+=("$(wall_us "$build/tempo-scan" --no-progress -j "$jobs" "$work/lib")")
    first+=("$(wall_us indexed)")
  done
  files=$(find "$work/lib" -type f | wc -l)
  # 1,000 files of 5 s, each its own copy of one of ten clips, in ten folders.
  for i in $(seq 0 9); do
    "$build/beatgen" $((90 + 7 * i)) 44100 5 "$work/src.wav" && encode "$work/src.wav" "$work/short$i.flac"
  done
  for ((i = 0; i < 1000; i++)); do
    mkdir -p "$work/big/$((i / 100))" && cp "$work/short$((i % 10)).flac" "$work/big/$((i / 100))/$i.flac"
  done
  big() { "$build/tempo-scan" --no-progress -j "$jobs" --db "$work/big.db" "$work/big"; }
  big > "$work/big-first.tsv"
  again=()
  for ((i = 0; i < runs; i++)); do again+=("$(TEMPO_FFMPEG=/nonexistent wall_us big)"); done
  TEMPO_FFMPEG=/nonexistent big > "$work/big-again.tsv" ||
    { echo "the rerun failed: it must have needed a decoder" >&2; exit 1; }
  cmp -s "$work/big-first.tsv" "$work/big-again.tsv" || { echo "the rerun reported otherwise" >&2; exit 1; }
  plain_us=$(printf '%s\n' "${plain[@]}" | median)
  first_us=$(printf '%s\n' "${first[@]}" | median)
  again_us=$(printf '%s\n' "${again[@]}" | median)
  echo "library $library: $files files; then 1,000 copies; medians of $runs alternating runs on $jobs CPUs"
  echo
  echo "| run | wall time (s) | ratio to the scan without an index |"
  echo "|---|---|---|"
  awk -v p="$plain_us" -v f="$first_us" -v a="$again_us" -v j="$jobs" -v n="$files" 'BEGIN {
    printf "| tempo-scan -j %d, %d files, no index | %.2f | 1.000 |\n", j, n, p / 1e6
    printf "| tempo-scan -j %d --db, %d files, first run into a new index | %.2f | %.3f |\n", j, n, f / 1e6, f / p
    printf "| tempo-scan -j %d --db, 1,000 files unchanged, second run (no decoder) | %.3f | |\n", j, a / 1e6
  }'
  exit 0
fi

# Every tempo agrees: bpm:N from the pipeline, N from tempo-scan.
pipeline | awk -F'\t' '{sub(/^bpm:/, "", $1); print $2 "\t" $1}' | LC_ALL=C sort > "$work/pipeline.txt"
scan "$jobs" | awk -F'\t' '{print $3 "\t" $1}' | LC_ALL=C sort > "$work/scan.txt"
files=$(wc -l < "$work/scan.txt")
if ! cmp -s "$work/pipeline.txt" "$work/scan.txt"; then
  diff "$work/pipeline.txt" "$work/scan.txt" >&2
  echo "tempos differ" >&2
  exit 1
fi

ours=(); theirs=(); single=(); accurate=(); floor=()
for ((i = 0; i < runs; i++)); do
  ours+=("$(wall_us scan "$jobs")")
  accurate+=("$(wall_us scan "$jobs" accurate)")
  theirs+=("$(wall_us pipeline)")
  single+=("$(wall_us scan 1)")
  floor+=("$(wall_us decode_only)")
done
ours_us=$(printf '%s\n' "${ours[@]}" | median)
accurate_us=$(printf '%s\n' "${accurate[@]}" | median)
theirs_us=$(printf '%s\n' "${theirs[@]}" | median)
single_us=$(printf '%s\n' "${single[@]}" | median)
floor_us=$(printf '%s\n' "${floor[@]}" | median)
echo "library $library: $files files, all $files tempos agree; medians of $runs alternating runs on $jobs CPUs"
echo
echo "| run | wall time (s) | files per second | ratio to the pipeline |"
echo "|---|---|---|---|"
awk -v f="$files" -v p="$theirs_us" -v s="$ours_us" -v one="$single_us" -v j="$jobs" -v a="$accurate_us" -v d="$floor_us" 'BEGIN {
  printf "| find + xargs -P %d + ffmpeg to a temporary WAVE + tempo | %.2f | %.1f | 1.000 |\n", j, p / 1e6, f * 1e6 / p
  printf "| tempo-scan -j %d --method classic | %.2f | %.1f | %.3f |\n", j, s / 1e6, f * 1e6 / s, s / p
  printf "| tempo-scan -j %d --method accurate | %.2f | %.1f | %.3f |\n", j, a / 1e6, f * 1e6 / a, a / p
  printf "| tempo-scan -j 1 --method classic | %.2f | %.1f | %.3f |\n", one / 1e6, f * 1e6 / one, one / p
  printf "| ffmpeg decoding alone, -P %d (the floor of any scan through it) | %.2f | %.1f | %.3f |\n", j, d / 1e6, f * 1e6 / d, d / p
  printf "\naccurate / classic at -j %d: %.3f\n", j, a / s
}'
