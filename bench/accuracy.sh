#!/usr/bin/env bash
# How often tempo's answer is right, on music nobody here wrote: every MIDI
# song of Debian's openttd-openmsx, rendered by fluidsynth through the
# FluidR3 General MIDI sound font to 44.1 kHz 16-bit stereo, a 45-second
# excerpt from 10 s in, labelled with the tempo of the song's own tempo
# map (songs whose tempo changes inside the excerpt are left out); and, as
# a second group, beatgen clips at 60, 64, ..., 236 BPM.
#
# Acc1: within 4 % of the label. Acc2: within 4 % of the label times 1, 2,
# 1/2, 3 or 1/3. The last line is "accuracy: Acc1 X% Acc2 Y% (N files)"
# for the songs.
#
#   bench/accuracy.sh [BUILD_DIR]
# Needs: sudo apt-get install fluidsynth fluid-soundfont-gm openttd-openmsx ffmpeg
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
cmake --build "$build" --target tempo beatgen midi_tempo > /dev/null
songs=/usr/share/games/openttd/baseset/openmsx
font=/usr/share/sounds/sf2/FluidR3_GM.sf2
for need in "$songs" "$font"; do
  [ -e "$need" ] || { echo "missing $need: apt-get install fluidsynth fluid-soundfont-gm openttd-openmsx" >&2; exit 1; }
done
start=10 length=45
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# label result -> "class acc1 acc2"
classify() {
  awk -v l="$1" -v r="$2" 'function near(x, y) { return x >= y * 0.96 && x <= y * 1.04 }
    BEGIN {
      c = "other"
      if (near(r, l)) c = "correct"; else if (near(r, 2 * l)) c = "double"; else if (near(r, l / 2)) c = "half";
      else if (near(r, 1.5 * l)) c = "3/2"; else if (near(r, l * 2 / 3)) c = "2/3";
      else if (near(r, l * 4 / 3)) c = "4/3"; else if (near(r, 0.75 * l)) c = "3/4";
      else if (near(r, 3 * l)) c = "triple"; else if (near(r, l / 3)) c = "third"
      a2 = (near(r, l) || near(r, 2 * l) || near(r, l / 2) || near(r, 3 * l) || near(r, l / 3))
      print c, (c == "correct"), a2
    }'
}

results=$work/results.txt
: > "$results"
# measure GROUP NAME LABEL FILE: runs tempo, prints the row, keeps the score.
measure() {
  local line result class acc1 acc2
  line=$("$build/tempo" "$4")
  result=${line#bpm:}
  read -r class acc1 acc2 < <(classify "$3" "$result")
  printf '%-8s %-34s %8.2f %6s  %s\n' "$1" "$2" "$3" "$result" "$class"
  echo "$1 $class $acc1 $acc2" >> "$results"
}
left_out=0
printf '%-8s %-34s %8s %6s  %s\n' group file label result class
for mid in "$songs"/*.mid; do
  name=$(basename "$mid" .mid)
  label=$("$build/midi_tempo" "$mid" "$start" "$length") || { echo "cannot read $mid" >&2; continue; }
  if [[ $label == varies* ]]; then
    printf '%-8s %-34s %8s %6s  %s\n' songs "$name" - - "left out: tempo changes in the excerpt (${label#varies })"
    left_out=$((left_out + 1))
    continue
  fi
  fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/full.wav" "$font" "$mid" > /dev/null 2>&1
  ffmpeg -nostdin -loglevel error -y -ss "$start" -t "$length" -i "$work/full.wav" -acodec pcm_s16le -ac 2 "$work/excerpt.wav"
  measure songs "$name" "$label" "$work/excerpt.wav"
done
for bpm in $(seq 60 4 236); do
  "$build/beatgen" "$bpm" 44100 "$length" "$work/clip.wav"
  measure beatgen "clip-${bpm}bpm" "$bpm" "$work/clip.wav"
done

echo
echo "left out: $left_out songs whose tempo map changes inside the excerpt"
echo
echo "| group | files | Acc1 | Acc2 | correct | double | half | 3/2 | 2/3 | 4/3 | 3/4 | triple | third | other |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for group in songs beatgen all; do
  awk -v g="$group" '$1 == g || g == "all" { n++; a1 += $3; a2 += $4; c[$2]++ }
    END { printf "| %s | %d | %.1f%% | %.1f%% |", g, n, 100 * a1 / n, 100 * a2 / n
          split("correct double half 3/2 2/3 4/3 3/4 triple third other", k, " ")
          for (i = 1; i <= 10; i++) printf " %d |", c[k[i]]; printf "\n" }' "$results"
done
echo
awk '$1 == "songs" { n++; a1 += $3; a2 += $4 }
  END { printf "accuracy: Acc1 %.1f%% Acc2 %.1f%% (%d files)\n", 100 * a1 / n, 100 * a2 / n, n }' "$results"
