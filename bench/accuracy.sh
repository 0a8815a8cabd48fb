#!/usr/bin/env bash
# How often each method's answer is right (classic: what tempo prints;
# accurate: what tempo-scan reports by default), on:
# - songs: music nobody here wrote, every MIDI song of Debian's
#   openttd-openmsx, rendered by fluidsynth through the FluidR3 General MIDI
#   sound font to 44.1 kHz 16-bit stereo, a 45-second excerpt from 10 s in,
#   labelled with the tempo of the song's own tempo map (songs whose tempo
#   changes inside the excerpt are left out of Acc1 and Acc2), its beats the
#   quarter notes of that map;
# - beatgen: beatgen clips at 60, 64, ..., 236 BPM;
# - clicks: beatgen clips at 60, 68, ..., 236 BPM, each starting at another
#   phase, a third of them straight, a third with a light and a third with a
#   triplet swing;
# - grooves and held-out: 192 grooves of 30 s written by tools/groovegen
#   (16 styles: rock, dance, swing, shuffle, half-time, 6/8, waltz, reggae,
#   a ballad without drums, funk, fast rock, drum and bass, latin, rubato, a
#   ramp, two tempos) and rendered the same way; the seeds whose sixteens
#   are even are the tuning half, the odd ones the held-out half, on which
#   nothing was fitted;
# - beatless: sounds with no beat (steady sines, white and pink noise, a
#   held chord, silence), right when the answer is no tempo (classic:
#   bpm:59).
#
# Acc1: within 4 % of the label. Acc2: within 4 % of the label times 1, 2,
# 1/2, 3 or 1/3. Then, for the accurate method: the reliability of its
# confidence (for each band, the share of files right); the beat F-measure
# (a beat found within 70 ms of a labelled one is a hit, the first 5 s left
# out) on the files whose tempo is right and on the grooves whose tempo
# changes, with the tempo changes found there. The last two lines are
# "accuracy classic: Acc1 X% Acc2 Y% (N files)" and the same for accurate,
# for the songs.
#
#   bench/accuracy.sh [BUILD_DIR]
# Needs: sudo apt-get install fluidsynth fluid-soundfont-gm openttd-openmsx ffmpeg
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
cmake --build "$build" --target tempo tempo-scan beatgen midi_tempo groovegen > /dev/null
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

# fmeasure FOUND_FILE LABELLED_FILE: one beat time a line in each.
fmeasure() {
  awk 'NR == FNR { if ($1 >= 5) found[n++] = $1; next } $1 >= 5 { labelled[m++] = $1 }
    END {
      if (n == 0 || m == 0) { print 0; exit }
      hits = 0; j = 0
      for (i = 0; i < m; i++) {
        while (j < n && found[j] < labelled[i] - 0.07) j++
        if (j < n && found[j] <= labelled[i] + 0.07) { hits++; j++ }
      }
      p = hits / n; r = hits / m
      printf "%.3f\n", hits ? 2 * p * r / (p + r) : 0
    }' "$1" "$2"
}

results=$work/results.txt
: > "$results"
# The tempo each method gives, "none" for no tempo. The accurate method's
# record also leaves its confidence and beats in $work.
classic() { local line; line=$("$build/tempo" "$1"); [ "$line" == "bpm:59" ] && echo none || echo "${line#bpm:}"; }
accurate() {
  local json
  json=$("$build/tempo-scan" --no-progress --format jsonl --beats --decimals 1 "$1")
  sed -E 's/.*"confidence": ([0-9.]+|null).*/\1/' <<< "$json" > "$work/confidence"
  sed -E 's/.*"beats": \[([^]]*)\].*/\1/' <<< "$json" | tr ',' '\n' | sed 's/ //g; /^$/d' > "$work/beats"
  sed -E 's/.*"tempo_changes": \[(.*)\]\}$/\1/; s/\{"at": ([0-9.]+), "bpm": ([0-9.]+)\}/\2@\1/g; s/,//g' <<< "$json" > "$work/changes"
  # The record's own bpm is the one followed by "status" (a tempo change's
  # is followed by a brace).
  local bpm; bpm=$(sed -E 's/.*"bpm": ([0-9.]+|null), "status".*/\1/' <<< "$json")
  [ "$bpm" == null ] && echo none || echo "$bpm"
}
# measure GROUP NAME LABEL FILE [BEATS]: runs both methods, prints the row,
# keeps the scores. A label of "none" is right only for no tempo; "varies"
# (a tempo that changes) counts for the beats alone.
measure() {
  local row method result class acc1 acc2 f=- confidence
  row=$(printf '%-8s %-30s %8s' "$1" "$2" "$3")
  for method in classic accurate; do
    result=$($method "$4")
    if [ "$3" == varies ]; then
      class=varies acc1=0 acc2=0
    elif [ "$3" == none ]; then
      if [ "$result" == none ]; then class=correct acc1=1; else class=other acc1=0; fi
      acc2=$acc1
    elif [ "$result" == none ]; then
      class=none acc1=0 acc2=0
    else
      read -r class acc1 acc2 < <(classify "$3" "$result")
    fi
    row+=$(printf ' %6s %-8s' "$result" "$class")
    if [ "$method" == accurate ]; then
      confidence=$(cat "$work/confidence")
      if [ -n "${5:-}" ] && { [ "$acc1" == 1 ] || [ "$3" == varies ]; }; then f=$(fmeasure "$work/beats" "$5"); fi
      row+=$(printf ' %5s %6s' "$confidence" "$f")
      [ "$3" == varies ] && row+=" changes: $(cat "$work/changes")"
    fi
    echo "$1 $method $class $acc1 $acc2 ${confidence:-null} $f" >> "$results"
  done
  echo "$row"
}

left_out=0
printf '%-8s %-30s %8s %6s %-8s %6s %-8s %5s %6s\n' group file label classic class accurate class conf beatF
for mid in "$songs"/*.mid; do
  name=$(basename "$mid" .mid)
  label=$("$build/midi_tempo" "$mid" "$start" "$length") || { echo "cannot read $mid" >&2; continue; }
  fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/full.wav" "$font" "$mid" > /dev/null 2>&1
  ffmpeg -nostdin -loglevel error -y -ss "$start" -t "$length" -i "$work/full.wav" -acodec pcm_s16le -ac 2 "$work/excerpt.wav"
  "$build/midi_tempo" "$mid" "$start" "$length" beats > "$work/labelled"
  if [[ $label == varies* ]]; then
    left_out=$((left_out + 1))
    measure songs "$name" varies "$work/excerpt.wav" "$work/labelled"
    continue
  fi
  measure songs "$name" "$label" "$work/excerpt.wav" "$work/labelled"
done
for bpm in $(seq 60 4 236); do
  "$build/beatgen" "$bpm" 44100 "$length" "$work/clip.wav"
  awk -v b="$bpm" -v l="$length" 'BEGIN { for (t = 0; t < l; t += 60 / b) printf "%.3f\n", t }' > "$work/labelled"
  measure beatgen "clip-${bpm}bpm" "$bpm" "$work/clip.wav" "$work/labelled"
done
# Clicks at other phases and swings: the off-beat at 1/2, 0.6 or 2/3.
k=0
for bpm in $(seq 60 8 236); do
  offset=$(awk -v k=$k 'BEGIN { printf "%.3f", (k * 0.377) % 1 }')
  swing=$(awk -v k=$k 'BEGIN { split("0.5 0.6 0.667", s, " "); print s[k % 3 + 1] }')
  "$build/beatgen" "$bpm" 44100 30 "$work/clip.wav" "$offset" "$swing"
  awk -v o="$offset" -v b="$bpm" 'BEGIN { for (t = o; t < 30; t += 60 / b) printf "%.3f\n", t }' > "$work/labelled"
  measure clicks "clip-${bpm}bpm-${offset}s-swing${swing}" "$bpm" "$work/clip.wav" "$work/labelled"
  k=$((k + 1))
done
for seed in $(seq 0 191); do
  group=grooves
  [ $(((seed / 16) % 2)) -eq 1 ] && group=held-out
  read -r style label _ < <("$build/groovegen" "$seed" 30 "$work/groove")
  fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/groove.wav" "$font" "$work/groove.mid" > /dev/null 2>&1
  measure "$group" "$(printf 'groove-%03d-%s' "$seed" "$style")" "$label" "$work/groove.wav" "$work/groove.beats"
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
echo "left out of Acc1 and Acc2: $left_out songs whose tempo map changes inside the excerpt"
echo
echo "| group | method | files | Acc1 | Acc2 | correct | double | half | 3/2 | 2/3 | 4/3 | 3/4 | triple | third | no tempo | other |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for group in songs beatgen clicks grooves held-out beatless; do
  for method in classic accurate; do
    awk -v g="$group" -v m="$method" '$1 == g && $2 == m && $3 != "varies" { n++; a1 += $4; a2 += $5; c[$3]++ }
      END { printf "| %s | %s | %d | %.1f%% | %.1f%% |", g, m, n, 100 * a1 / n, 100 * a2 / n
            split("correct double half 3/2 2/3 4/3 3/4 triple third none other", k, " ")
            for (i = 1; i <= 11; i++) printf " %d |", c[k[i]]; printf "\n" }' "$results"
  done
done
echo
echo "Reliability of the accurate method's confidence (files with a labelled tempo; right: within 4 %):"
echo
echo "| confidence | songs | right | grooves (tuning) | right | held-out | right | clicks and beatgen | right |"
echo "|---|---|---|---|---|---|---|---|---|"
awk '$2 == "accurate" && $3 != "varies" && $1 != "beatless" && $6 != "null" {
    band = int($6 * 5); if (band > 4) band = 4
    g = $1 == "beatgen" || $1 == "clicks" ? "clicks" : $1
    n[g, band]++; r[g, band] += $4
  }
  END {
    for (b = 0; b < 5; b++) {
      printf "| %.1f-%.1f |", b / 5, (b + 1) / 5
      split("songs grooves held-out clicks", gs, " ")
      for (i = 1; i <= 4; i++) {
        if (n[gs[i], b] > 0) printf " %d | %.0f%% |", n[gs[i], b], 100 * r[gs[i], b] / n[gs[i], b]; else printf " 0 | - |"
      }
      printf "\n"
    }
  }' "$results"
echo
for group in songs grooves held-out; do
  awk -v g="$group" '$1 == g && $2 == "accurate" && $3 != "varies" && $6 != "null" && $6 > 0.5 { n++; r += $4 }
    END { printf "%s: %d files above confidence 0.5, %.1f%% of them right\n", g, n, n ? 100 * r / n : 0 }' "$results"
done
echo
echo "Beat F-measure (70 ms) of the accurate method, mean over the files whose tempo is right:"
for group in songs beatgen clicks grooves held-out; do
  awk -v g="$group" '$1 == g && $2 == "accurate" && $4 == 1 && $7 != "-" { n++; f += $7; if ($7 >= 0.85) good++ }
    END { if (n) printf "%s: %.3f over %d files (%d at 0.85 or more)\n", g, f / n, n, good }' "$results"
done
awk '$2 == "accurate" && $3 == "varies" && $7 != "-" { n++; f += $7 }
  END { if (n) printf "tempo that changes (ramps, two tempos, songs left out): %.3f over %d files\n", f / n, n }' "$results"
echo
for method in classic accurate; do
  awk -v m="$method" '$1 == "songs" && $2 == m && $3 != "varies" { n++; a1 += $4; a2 += $5 }
    END { printf "accuracy %s: Acc1 %.1f%% Acc2 %.1f%% (%d files)\n", m, 100 * a1 / n, 100 * a2 / n, n }' "$results"
done
