#!/usr/bin/env bash
# Fits the accurate method's weights again, as they were fitted: the
# metrical level's conditional logistic model (pulse/metre.cpp), the
# confidence's calibration (pulse/calibration.cpp) and the beat phase's
# logistic model (pulse/beat_phase.cpp), over the tuning
# material of bench/accuracy.sh: the openmsx songs (excerpts rendered the
# same way), the grooves of the tuning half (groovegen seeds whose sixteens
# are even; grooves whose tempo changes have no single label and are left
# out) and the beatgen clips. The held-out grooves are never read here.
# Prints the weights; copy them into the three files by hand.
#
#   bench/fit_weights.sh [BUILD_DIR]
# Needs: sudo apt-get install fluidsynth fluid-soundfont-gm openttd-openmsx ffmpeg
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
cmake --build "$build" --target beatgen midi_tempo groovegen level_features reading_features fit_weights > /dev/null
songs=/usr/share/games/openttd/baseset/openmsx
font=/usr/share/sounds/sf2/FluidR3_GM.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
  for mid in "$songs"/*.mid; do
    label=$("$build/midi_tempo" "$mid" 10 45) || continue
    [[ $label == varies* ]] && continue
    fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/full.wav" "$font" "$mid" > /dev/null 2>&1
    ffmpeg -nostdin -loglevel error -y -ss 10 -t 45 -i "$work/full.wav" -acodec pcm_s16le -ac 2 "$work/clip.wav"
    "$build/level_features" "$work/clip.wav" "songs:$(basename "$mid" .mid)" "$label"
    "$build/midi_tempo" "$mid" 10 45 beats > "$work/labelled"
    "$build/reading_features" "$work/clip.wav" "songs:$(basename "$mid" .mid)" "$label" "$work/labelled"
  done
  for seed in $(seq 0 191); do
    [ $(((seed / 16) % 2)) -eq 0 ] || continue
    read -r style label _ < <("$build/groovegen" "$seed" 30 "$work/groove")
    [ "$label" == varies ] && continue
    fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/clip.wav" "$font" "$work/groove.mid" > /dev/null 2>&1
    "$build/level_features" "$work/clip.wav" "grooves:$seed-$style" "$label"
    "$build/reading_features" "$work/clip.wav" "grooves:$seed-$style" "$label" "$work/groove.beats"
  done
  for bpm in $(seq 60 4 236); do
    "$build/beatgen" "$bpm" 44100 45 "$work/clip.wav"
    "$build/level_features" "$work/clip.wav" "beatgen:$bpm" "$bpm"
    awk -v b="$bpm" 'BEGIN { for (t = 0; t < 45; t += 60 / b) printf "%.3f\n", t }' > "$work/labelled"
    "$build/reading_features" "$work/clip.wav" "beatgen:$bpm" "$bpm" "$work/labelled"
  done
} > "$work/levels.txt"
"$build/fit_weights" 4 < "$work/levels.txt"
