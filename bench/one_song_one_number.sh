#!/usr/bin/env bash
# Whether the accurate method gives one song one number: each excerpt of
# the accuracy benchmark (see accuracy.sh) as WAVE, FLAC, MP3 at 128 and
# 320 kbit/s, Ogg Vorbis, Opus, AAC, FLAC at 48 and 22.05 kHz and mono
# FLAC; a song passes when all ten tempos lie within 1 BPM of each other.
# Then the same for 16 grooves played on a machine's grid at a whole tempo
# (groovegen --whole --machine: drum machines and sequencers, where a
# drum pattern's eighths and its beats recur nearly alike). The last line
# is "one number: P of N songs".
#
#   bench/one_song_one_number.sh [BUILD_DIR]
# Needs: sudo apt-get install fluidsynth fluid-soundfont-gm openttd-openmsx ffmpeg
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
cmake --build "$build" --target tempo-scan midi_tempo groovegen > /dev/null
songs=/usr/share/games/openttd/baseset/openmsx
font=/usr/share/sounds/sf2/FluidR3_GM.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
passed=0 total=0
# forms NAME LABEL: the ten forms of $work/forms/a.wav, their tempos and
# the verdict.
forms() {
  local name=$1 label=$2 src=$work/forms/a.wav
  ff -i "$src" "$work/forms/b.flac"
  ff -i "$src" -b:a 128k "$work/forms/c-128.mp3"
  ff -i "$src" -b:a 320k "$work/forms/d-320.mp3"
  ff -i "$src" -c:a libvorbis "$work/forms/e.ogg"
  ff -i "$src" -c:a libopus "$work/forms/f.opus"
  ff -i "$src" -c:a aac "$work/forms/g.m4a"
  ff -i "$src" -ar 48000 "$work/forms/h-48k.flac"
  ff -i "$src" -ar 22050 "$work/forms/i-22k.flac"
  ff -i "$src" -ac 1 "$work/forms/j-mono.flac"
  tempos=$("$build/tempo-scan" --no-progress "$work/forms" | cut -f1 | tr '\n' ' ')
  spread=$(tr ' ' '\n' <<< "$tempos" | grep -v '^$' | sort -n | awk 'NR == 1 { low = $1 } { high = $1 } END { print high - low }')
  count=$(wc -w <<< "$tempos")
  total=$((total + 1))
  verdict=differ
  if [ "$count" -eq 10 ] && [ "$spread" -le 1 ]; then passed=$((passed + 1)); verdict=same; fi
  printf '%-28s %8s  %s %s\n' "$name" "$label" "$tempos" "$verdict"
}
for mid in "$songs"/*.mid; do
  name=$(basename "$mid" .mid)
  label=$("$build/midi_tempo" "$mid" 10 45) || continue
  [[ $label == varies* ]] && continue
  fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/full.wav" "$font" "$mid" > /dev/null 2>&1
  rm -rf "$work/forms" && mkdir "$work/forms"
  ff -ss 10 -t 45 -i "$work/full.wav" -acodec pcm_s16le -ac 2 "$work/forms/a.wav"
  forms "$name" "$label"
done
for seed in $(seq 0 15); do
  read -r style label _ < <("$build/groovegen" "$((seed * 5 + 1))" 45 "$work/groove" --whole --machine)
  [ "$label" == varies ] && continue
  fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/full.wav" "$font" "$work/groove.mid" > /dev/null 2>&1
  rm -rf "$work/forms" && mkdir "$work/forms"
  ff -i "$work/full.wav" -acodec pcm_s16le -ac 2 "$work/forms/a.wav"
  forms "machine-$((seed * 5 + 1))-$style" "$label"
done
echo "one number: $passed of $total songs"
