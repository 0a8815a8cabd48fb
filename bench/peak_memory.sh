#!/usr/bin/env bash
# The peak memory (maximum resident set size, by GNU time) of one
# tempo-scan job with the accurate method, over a one-hour beatgen clip at
# 120 BPM as an MP3 at 192 kbit/s (decoded in the process) and as the WAVE
# it was made from (read in place), and over a 5-second clip (the
# process's floor). Fails when the hour's MP3 peaks above LIMIT_KIB
# (default 16384: 16 MiB). Writes about 0.7 GB to a temporary folder for
# a minute or so.
#
#   bench/peak_memory.sh [BUILD_DIR [LIMIT_KIB]]
# Needs: sudo apt-get install ffmpeg time
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
limit=${2:-16384}
cmake --build "$build" --target tempo-scan beatgen > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/beatgen" 120 44100 5 "$work/clip.wav" > /dev/null
"$build/beatgen" 120 44100 3600 "$work/hour.wav" > /dev/null
ffmpeg -nostdin -hide_banner -loglevel error -i "$work/hour.wav" -c:a libmp3lame -b:a 192k "$work/hour.mp3"
peak_kib() {
  /usr/bin/time -f '%M' -o "$work/peak.txt" "$build/tempo-scan" --no-progress -j 1 "$1" > /dev/null
  cat "$work/peak.txt"
}
clip=$(peak_kib "$work/clip.wav")
wave=$(peak_kib "$work/hour.wav")
mp3=$(peak_kib "$work/hour.mp3")
mib() { awk -v k="$1" 'BEGIN {printf "%.1f MiB", k / 1024}'; }
echo "5-second WAVE: $clip KiB ($(mib "$clip"))"
echo "1-hour WAVE:   $wave KiB ($(mib "$wave"))"
echo "1-hour MP3:    $mp3 KiB ($(mib "$mp3")), limit $limit KiB"
[ "$mp3" -le "$limit" ] || { echo "FAIL: the hour's MP3 peaks above $limit KiB" >&2; exit 1; }
