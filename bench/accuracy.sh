#!/usr/bin/env bash
# How often each method's answer is right (classic: what tempo prints;
# accurate: what tempo-scan reports by default), on music nobody here wrote: every MIDI
# song of Debian's openttd-openmsx, rendered by fluidsynth through the
# FluidR3 General MIDI sound font to 44.1 kHz 16-bit stereo, a 45-second
# excerpt from 10 s in, labelled with the tempo of the song's own tempo
# map (songs whose tempo changes inside the excerpt are left out); and, as
# a second group, beatgen clips at 60, 64, ..., 236 BPM; and a third of
# sounds with no beat (steady sines, white and pink noise, a held chord,
# silence), right when the answer is no tempo (classic: bpm:59).
#
# Acc1: within 4 % of the label. Acc2: within 4 % of the label times 1, 2,
# 1/2, 3 or 1/3. The last two lines are "accuracy classic: Acc1 X% Acc2 Y%
# (N files)" and the same for accurate, for the songs.
#
#   bench/accuracy.sh [BUILD_DIR]
# Needs: sudo apt-get install fluidsynth fluid-soundfont-gm openttd-openmsx ffmpeg
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
cmake --build "$build" --target tempo tempo-scan beatgen midi_tempo > /dev/null
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
# The tempo each method gives, "none" for no tempo.
classic() { local line; line=$("$build/tempo" "$1"); [ "$line" == "bpm:59" ] && echo none || echo "${line#bpm:}"; }
accurate() { local bpm; bpm=$("$build/tempo-scan" --no-progress "$1" | cut -f1); echo "${bpm:-none}"; }
# measure GROUP NAME LABEL FILE: runs both methods, prints the row, keeps
# the scores. A label of "none" is right only for no tempo.
measure() {
  local row method result class acc1 acc2
  row=$(printf '%-8s %-34s %8s' "$1" "$2" "$3")
  for method in classic accurate; do
    result=$($method "$4")
    if [ "$3" == none ]; then
      if [ "$result" == none ]; then class=correct acc1=1; else class=other acc1=0; fi
      acc2=$acc1
    elif [ "$result" == none ]; then
      class=none acc1=0 acc2=0
    else
      read -r class acc1 acc2 < <(classify "$3" "$result")
    fi
    row+=$(printf ' %6s %-8s' "$result" "$class")
    echo "$1 $method $class $acc1 $acc2" >> "$results"
  done
  echo "$row"
}
left_out=0
printf '%-8s %-34s %8s %6s %-8s %6s %-8s\n' group file label classic class accurate class
for mid in "$songs"/*.mid; do
  name=$(basename "$mid" .mid)
  label=$("$build/midi_tempo" "$mid" "$start" "$length") || { echo "cannot read $mid" >&2; continue; }
  if [[ $label == varies* ]]; then
    printf '%-8s %-34s %8s  %s\n' songs "$name" - "left out: tempo changes in the excerpt (${label#varies })"
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
# name and ffmpeg source of each sound with no beat.
while read -r name source; do
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "$source" -t "$length" -ar 44100 -ac 2 -acodec pcm_s16le "$work/flat.wav"
  measure beatless "$name" none "$work/flat.wav"
done <<'LIST'
sine-440hz sine=f=440
sine-1khz sine=f=1000
white-noise anoisesrc=c=white:a=0.5:seed=1
pink-noise anoisesrc=c=pink:a=0.5:seed=2
held-chord aevalsrc=0.2*sin(2*PI*261.63*t)+0.2*sin(2*PI*329.63*t)+0.2*sin(2*PI*392*t)
silence anullsrc=r=44100:cl=stereo
LIST

echo
echo "left out: $left_out songs whose tempo map changes inside the excerpt"
echo
echo "| group | method | files | Acc1 | Acc2 | correct | double | half | 3/2 | 2/3 | 4/3 | 3/4 | triple | third | no tempo | other |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for group in songs beatgen beatless; do
  for method in classic accurate; do
    awk -v g="$group" -v m="$method" '$1 == g && $2 == m { n++; a1 += $4; a2 += $5; c[$3]++ }
      END { printf "| %s | %s | %d | %.1f%% | %.1f%% |", g, m, n, 100 * a1 / n, 100 * a2 / n
            split("correct double half 3/2 2/3 4/3 3/4 triple third none other", k, " ")
            for (i = 1; i <= 11; i++) printf " %d |", c[k[i]]; printf "\n" }' "$results"
  done
done
echo
for method in classic accurate; do
  awk -v m="$method" '$1 == "songs" && $2 == m { n++; a1 += $4; a2 += $5 }
    END { printf "accuracy %s: Acc1 %.1f%% Acc2 %.1f%% (%d files)\n", m, 100 * a1 / n, 100 * a2 / n, n }' "$results"
done
