#!/usr/bin/env bash
# Fits the accurate method's weights again, as they were fitted: the
# metrical level's conditional logistic model (pulse/metre.cpp), the
# confidence's calibration (pulse/calibration.cpp) and the beat phase's
# logistic model (pulse/beat_phase.cpp), over generated material alone:
# the grooves of the tuning half of bench/accuracy.sh (groovegen seeds
# whose sixteens are even; a groove whose tempo ramps or changes is
# labelled by the two tempos it moves between, and a level between them is
# right for the metrical level; it teaches no confidence nor phase),
# seeds 0 to 15 of groovegen --metre in each
# metre and of the 3+3+2 grooves (groovegen --style dembow, tresillo-pop,
# habanera), and the beatgen clips, each style one kind that weighs as
# much as any other. The held-out grooves are never read here. The songs
# (the openmsx excerpts rendered as bench/accuracy.sh renders them) are
# held out of the fit, and the reliability of the confidence on them is
# printed; then the check the other way round: the confidence fitted on
# the songs alone, and its reliability on the generated material.
# Prints the weights; copy the metrical level's into pulse/metre.cpp by
# hand. The confidence's and the beat phase's lines are printed as checks:
# pulse/calibration.cpp and pulse/beat_phase.cpp keep 2.3.0's weights,
# fitted with the songs (the confidence refitted here puts a steady groove
# clearly at its level below 0.9, which its unit test refuses).
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
# features KIND:FILE LABEL: both tools' lines for $work/clip.wav, its
# labelled beats in $work/labelled.
features() {
  "$build/level_features" "$work/clip.wav" "$1" "$2"
  "$build/reading_features" "$work/clip.wav" "$1" "$2" "$work/labelled"
}
# groove SEED ARGS...: renders groovegen's groove to $work/clip.wav and
# prints its features under its style's kind.
groove() {
  local seed=$1 style label from to
  shift
  read -r style label from to _ < <("$build/groovegen" "$seed" 30 "$work/groove" "$@")
  fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/clip.wav" "$font" "$work/groove.mid" > /dev/null 2>&1
  if [ "$label" == varies ]; then
    "$build/level_features" "$work/clip.wav" "$style:$seed" "$from-$to"
    return 0
  fi
  cp "$work/groove.beats" "$work/labelled"
  features "$style:$seed${1:+$1$2}" "$label"
}
{
  for mid in "$songs"/*.mid; do
    label=$("$build/midi_tempo" "$mid" 10 45) || continue
    [[ $label == varies* ]] && continue
    fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/full.wav" "$font" "$mid" > /dev/null 2>&1
    ffmpeg -nostdin -loglevel error -y -ss 10 -t 45 -i "$work/full.wav" -acodec pcm_s16le -ac 2 "$work/clip.wav"
    "$build/midi_tempo" "$mid" 10 45 beats > "$work/labelled"
    features "songs:$(basename "$mid" .mid)" "$label"
  done
  for seed in $(seq 0 191); do
    [ $(((seed / 16) % 2)) -eq 0 ] && groove "$seed"
  done
  for seed in $(seq 0 15); do
    for metre in 2/4 3/4 4/4 6/8; do
      bar=${metre%/*}
      [ "$metre" == 6/8 ] && bar=2
      groove "$seed" --metre "$metre" --upbeat $((seed % bar))
    done
    for style in dembow tresillo-pop habanera; do groove "$seed" --style "$style"; done
  done
  for bpm in $(seq 60 4 236); do
    "$build/beatgen" "$bpm" 44100 45 "$work/clip.wav"
    awk -v b="$bpm" 'BEGIN { for (t = 0; t < 45; t += 60 / b) printf "%.3f\n", t }' > "$work/labelled"
    features "beatgen:$bpm" "$bpm"
  done
} > "$work/features.txt"
echo "Fitted on the generated material, the songs held out:"
"$build/fit_weights" --hold songs < "$work/features.txt"
echo
echo "The other way round, fitted on the songs alone, the generated material held out:"
"$build/fit_weights" --fit songs < "$work/features.txt"
