#!/usr/bin/env bash
# The clips the decoder tests read: a 6-second drum pattern at 120 BPM
# (beatgen), encoded by ffmpeg in each format the process decodes, at the
# rates and channel layouts whose handling differs.
# Usage: make_decoder_clips.sh BEATGEN DIR
set -euo pipefail
beatgen=$1 dir=$2
rm -rf "$dir" && mkdir -p "$dir"
cd "$dir"
"$beatgen" 120 44100 6 clip.wav > /dev/null
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y -i clip.wav "$@"; }
ff -c:a libmp3lame -b:a 192k mp3-44k.mp3
ff -c:a libmp3lame -ar 48000 mp3-48k.mp3
ff -c:a libmp3lame -ar 32000 mp3-32k.mp3
ff -c:a libmp3lame -ar 22050 mp3-22k.mp3
ff -c:a libmp3lame -ac 1 mp3-mono.mp3
ff -c:a mp2 mp2-44k.mp2
ff -c:a flac flac-16.flac
ff -c:a flac -sample_fmt s32 -bits_per_raw_sample 24 flac-24.flac
ff -c:a flac -ac 1 flac-mono.flac
ff -c:a flac -ac 6 flac-6ch.flac
ff -c:a libvorbis vorbis-44k.ogg
ff -c:a libvorbis -ar 16000 vorbis-16k.ogg
ff -c:a libvorbis -ac 1 vorbis-mono.ogg
ff -c:a libopus opus-stereo.opus
ff -c:a libopus -ac 1 opus-mono.opus
ff -c:a libopus -ac 6 opus-6ch.opus
# Chained Ogg: two files one after the other, as cat makes them (the
# second link in mono), and one whose second link has another rate.
cat vorbis-44k.ogg vorbis-mono.ogg > vorbis-chained.ogg
cat opus-stereo.opus opus-mono.opus > opus-chained.opus
cat vorbis-44k.ogg vorbis-16k.ogg > vorbis-chained-rates.ogg
# What each decoder is compared with: ffmpeg's own decode, resampled to
# the rate the decoder gives (second field), as floats, in mono for a mono
# file and else in stereo (ffmpeg's mix of six channels).
while read -r name rate channels; do
  ffmpeg -nostdin -hide_banner -loglevel error -y -i "$name" -ac "$channels" -ar "$rate" -f f32le "$name.f32"
done <<'LIST'
mp3-44k.mp3 22050 2
mp3-48k.mp3 24000 2
mp3-32k.mp3 16000 2
mp3-22k.mp3 11025 2
mp3-mono.mp3 22050 1
mp2-44k.mp2 22050 2
flac-16.flac 44100 2
flac-24.flac 44100 2
flac-mono.flac 44100 1
flac-6ch.flac 44100 2
vorbis-44k.ogg 22050 2
vorbis-16k.ogg 16000 2
vorbis-mono.ogg 22050 1
opus-stereo.opus 12000 2
opus-mono.opus 12000 1
opus-6ch.opus 12000 2
LIST
# A chained file's: each link as ffmpeg decodes it as a file of its own,
# one after the other, mixed to mono (ffmpeg's decode of the chain itself
# keeps the first link's channels for the second, and so its levels).
link() {
  local mix=(-ac 1)
  [ "$3" = 2 ] && mix=(-af 'pan=mono|c0=0.5*c0+0.5*c1')
  ffmpeg -nostdin -hide_banner -loglevel error -i "$1" "${mix[@]}" -ar "$2" -f f32le -
}
{ link vorbis-44k.ogg 22050 2 && link vorbis-mono.ogg 22050 1; } > vorbis-chained.ogg.f32
{ link opus-stereo.opus 12000 2 && link opus-mono.opus 12000 1; } > opus-chained.opus.f32
