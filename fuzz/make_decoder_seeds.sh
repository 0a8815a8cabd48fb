#!/usr/bin/env bash
# The seeds of the decoder fuzz targets: a second or two of a drum pattern
# (beatgen), encoded by ffmpeg small, in the layouts each decoder handles
# differently, one folder per target (mpeg, flac, vorbis, opus), and a cut
# copy of each; for Vorbis and Opus, chained files (two links, the second
# of another layout or rate) too.
# Usage: make_decoder_seeds.sh BEATGEN DIR
set -euo pipefail
beatgen=$1 dir=$2
rm -rf "$dir" && mkdir -p "$dir/mpeg" "$dir/flac" "$dir/vorbis" "$dir/opus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$beatgen" 140 22050 1 "$work/short.wav" > /dev/null
"$beatgen" 140 48000 2 "$work/long.wav" > /dev/null
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
while read -r target name source options; do
  # shellcheck disable=SC2086
  ff -i "$work/$source" $options "$dir/$target/$name"
  size=$(stat -c %s "$dir/$target/$name")
  head -c $((size * 2 / 3)) "$dir/$target/$name" > "$dir/$target/cut-$name"
done <<'LIST'
mpeg mono.mp3 short.wav -c:a libmp3lame -ac 1 -b:a 32k
mpeg stereo.mp3 short.wav -c:a libmp3lame -b:a 64k
mpeg 48k.mp3 long.wav -c:a libmp3lame -ac 1 -b:a 32k -t 0.5
mpeg layer2.mp2 short.wav -c:a mp2 -b:a 64k -t 0.5
flac stereo.flac short.wav -c:a flac -t 0.3
flac mono-8k.flac short.wav -c:a flac -ac 1 -ar 8000
flac 24bit.flac long.wav -c:a flac -sample_fmt s32 -bits_per_raw_sample 24 -ac 1 -ar 8000 -t 0.5
flac 4ch.flac short.wav -c:a flac -ac 4 -ar 8000 -t 0.5
vorbis stereo.ogg short.wav -c:a libvorbis -q:a 0
vorbis mono-8k.ogg short.wav -c:a libvorbis -ac 1 -ar 8000 -q:a 0
opus stereo.opus short.wav -c:a libopus -b:a 16k
opus mono.opus long.wav -c:a libopus -ac 1 -b:a 8k
opus 6ch.opus short.wav -c:a libopus -ac 6 -b:a 48k -t 0.5
LIST
cat "$dir/vorbis/stereo.ogg" "$dir/vorbis/mono-8k.ogg" > "$dir/vorbis/chained.ogg"
cat "$dir/vorbis/mono-8k.ogg" "$dir/vorbis/mono-8k.ogg" > "$dir/vorbis/chained-same.ogg"
cat "$dir/opus/mono.opus" "$dir/opus/6ch.opus" > "$dir/opus/chained.opus"
