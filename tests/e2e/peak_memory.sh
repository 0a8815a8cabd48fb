#!/usr/bin/env bash
# How much more memory one tempo-scan job takes for a long piece than for
# a short one: the accurate analysis holds a few arrays of a double per
# analysis frame (86 a second) at its peak, about three and a half since
# they were cut down from about nine; more than five means some array per
# frame came back. A 20-minute FLAC (decoded in the process, 103,000
# frames, 0.8 MB an array) against a 30-second one, each scanned with
# -j 1 and measured as the peak resident set size by GNU time.
# Usage: peak_memory.sh TEMPO_SCAN BEATGEN DIR
set -euo pipefail
scan=$(realpath "$1") beatgen=$(realpath "$2") dir=$3
rm -rf "$dir" && mkdir -p "$dir"
cd "$dir"
"$beatgen" 120 44100 60 minute.wav > /dev/null
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
ff -t 30 -i minute.wav -c:a flac short.flac
ff -stream_loop 19 -i minute.wav -c:a flac long.flac
rm minute.wav
peak_kib() {
  /usr/bin/time -f '%M' -o peak.txt "$scan" --no-progress -j 1 "$1" > /dev/null
  cat peak.txt
}
short=$(peak_kib short.flac)
long=$(peak_kib long.flac)
# 44100 / 4 samples a second, 128 to a frame, for 1170 seconds more.
frames=$(( 1170 * 44100 / 4 / 128 ))
limit=$(( 5 * frames * 8 / 1024 ))
growth=$(( long - short ))
echo "peak RSS: 30 s ${short} KiB, 20 min ${long} KiB, growth ${growth} KiB (limit ${limit} KiB, 5 doubles a frame)"
rm -rf "$dir"
if [ "$growth" -gt "$limit" ]; then
  echo "FAIL: the analysis of a long piece holds more than 5 arrays of a double per frame" >&2
  exit 1
fi
