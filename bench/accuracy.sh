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
#   bpm:59);
# - metres: 64 grooves of 30 s by groovegen --metre in 2/4, 3/4, 4/4 and
#   6/8 (seeds 16 to 31 of each; the bars were tuned on seeds 0 to 15),
#   each starting SEED modulo the bar's beats beats before its first bar
#   line, with known bar lines;
# - figures: 48 grooves of 30 s built on the 3+3+2 figure (groovegen
#   --style dembow, tresillo-pop, habanera; seeds 16 to 31 of each, the
#   level's weights were fitted on seeds 0 to 15), whose strongest period
#   is 3/4 or 3/2 of the beat;
# - whole: 32 grooves at whole tempos (groovegen --whole, half of them on
#   a machine's grid, --machine) and 16 beatgen clips at whole tempos, for
#   the snapping table.
#
# Acc1: within 4 % of the label. Acc2: within 4 % of the label times 1, 2,
# 1/2, 3 or 1/3. Then, for the accurate method: the reliability of its
# confidence (for each band, the share of files right); the beat F-measure
# (a beat found within 70 ms of a labelled one is a hit, the first 5 s left
# out) on the files whose tempo is right and on the grooves whose tempo
# changes, with the tempo changes found there; the share of files whose
# beats lie on the off-beats; the downbeat F-measure (70 ms) and the
# metre found, on the generated grooves and on the songs whose MIDI file
# has a time signature of 3/4 or 4/4 (a 6/8 groove counted in dotted
# quarters has bars of 2, counted in eighths bars of 3 on its dotted
# beats); the snapping table (whole tempos reported exactly, others within
# 0.05 BPM); with BASE_BUILD_DIR (a build of the release before), how many
# default records (tempo-scan FILE) differ from its. The last two lines are
# "accuracy classic: Acc1 X% Acc2 Y% (N files)" and the same for accurate,
# for the songs.
#
#   bench/accuracy.sh [BUILD_DIR [BASE_BUILD_DIR]]
# Needs: sudo apt-get install fluidsynth fluid-soundfont-gm openttd-openmsx ffmpeg
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
cmake --build "$build" --target tempo tempo-scan beatgen midi_tempo groovegen grid_reading > /dev/null
base=
if [ -n "${2:-}" ]; then base=$(cd "$2" && pwd); fi
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

# offbeats LABELLED_FILE: the points halfway between the labelled beats.
offbeats() { awk 'NR > 1 { printf "%.3f\n", (p + $1) / 2 } { p = $1 }' "$1"; }

results=$work/results.txt
: > "$results"
# The tempo each method gives, "none" for no tempo. The accurate method's
# record also leaves its confidence and beats in $work.
classic() { local line; line=$("$build/tempo" "$1"); [ "$line" == "bpm:59" ] && echo none || echo "${line#bpm:}"; }
accurate() {
  local json
  json=$("$build/tempo-scan" --no-progress --format jsonl --beats --decimals 2 "$1")
  "$build/grid_reading" "$1" > "$work/grid"
  sed -E 's/.*"metre": ([0-9]+|null).*/\1/' "$work/grid" > "$work/metre"
  sed -E 's/.*"downbeats": \[([^]]*)\].*/\1/' "$work/grid" | tr ',' '\n' | sed 's/ //g; /^$/d' > "$work/downbeats"
  if [ -n "$base" ]; then
    [ "$("$build/tempo-scan" --no-progress "$1")" == "$("$base/tempo-scan" --no-progress "$1")" ] && echo same > "$work/kept" || echo changed > "$work/kept"
  else
    echo - > "$work/kept"
  fi
  sed -E 's/.*"confidence": ([0-9.]+|null).*/\1/' <<< "$json" > "$work/confidence"
  sed -E 's/.*"beats": \[([^]]*)\].*/\1/' <<< "$json" | tr ',' '\n' | sed 's/ //g; /^$/d' > "$work/beats"
  # The changes' list holds no bracket of its own; the downbeats and the
  # metre follow it.
  sed -E 's/.*"tempo_changes": \[([^]]*)\].*/\1/; s/\{"at": ([0-9.]+), "bpm": ([0-9.]+)\}/\2@\1/g; s/,//g' <<< "$json" > "$work/changes"
  # The record's own bpm is the one followed by "status" (a tempo change's
  # is followed by a brace).
  local bpm; bpm=$(sed -E 's/.*"bpm": ([0-9.]+|null), "status".*/\1/' <<< "$json")
  [ "$bpm" == null ] && echo none || echo "$bpm"
}
# measure GROUP NAME LABEL FILE [BEATS [DOWNBEATS METRE]]: runs both
# methods, prints the row, keeps the scores. A label of "none" is right
# only for no tempo; "varies" (a tempo that changes) counts for the beats
# alone. METRE is the bar's beats the file is in (2, 3, 4, or 6/8), "-"
# where not known.
measure() {
  local row method result class acc1 acc2 f=- confidence off=- downF=- found=- expected=- kept=-
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
      kept=$(cat "$work/kept")
      if [ -n "${5:-}" ] && [ "$acc1" == 1 ]; then
        offbeats "$5" > "$work/offbeats"
        off=$(awk -v on="$f" -v o="$(fmeasure "$work/beats" "$work/offbeats")" 'BEGIN { print (o > on && o >= 0.5) ? 1 : 0 }')
      fi
      found=$(cat "$work/metre")
      if [ -n "${7:-}" ] && [ "$7" != - ] && [ "$result" != none ] && [ "$3" != varies ]; then
        local downbeats=$6
        expected=$7
        if [ "$7" == 6/8 ]; then
          expected=2
          # Counted in eighths: a bar of three on every dotted beat.
          if awk -v r="$result" -v l="$3" 'BEGIN { exit !(r >= 3 * l * 0.96 && r <= 3 * l * 1.04) }'; then expected=3 downbeats=$5; fi
        fi
        if [ "$acc1" == 1 ] || [ "$expected" == 3 -a "$7" == 6/8 ]; then downF=$(fmeasure "$work/downbeats" "$downbeats"); fi
      fi
      row+=$(printf ' %5s %6s %6s %2s/%-2s' "$confidence" "$f" "$downF" "$found" "$expected")
      [ "$3" == varies ] && row+=" changes: $(cat "$work/changes")"
    fi
    echo "$1 $method $class $acc1 $acc2 ${confidence:-null} $f $off $downF $found $expected $kept $3 $result $2" >> "$results"
  done
  echo "$row"
}

left_out=0
printf '%-8s %-30s %8s %6s %-8s %6s %-8s %5s %6s %6s %5s\n' group file label classic class accurate class conf beatF downF metre
for mid in "$songs"/*.mid; do
  name=$(basename "$mid" .mid)
  label=$("$build/midi_tempo" "$mid" "$start" "$length") || { echo "cannot read $mid" >&2; continue; }
  fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/full.wav" "$font" "$mid" > /dev/null 2>&1
  ffmpeg -nostdin -loglevel error -y -ss "$start" -t "$length" -i "$work/full.wav" -acodec pcm_s16le -ac 2 "$work/excerpt.wav"
  "$build/midi_tempo" "$mid" "$start" "$length" beats > "$work/labelled"
  "$build/midi_tempo" "$mid" "$start" "$length" downbeats > "$work/bars"
  signature=$(head -1 "$work/bars" | cut -d' ' -f3)
  sed 1d "$work/bars" > "$work/downbeats-labelled"
  case $signature in 2/4) metre=2 ;; 3/4) metre=3 ;; 4/4) metre=4 ;; *) metre=- ;; esac
  if [[ $label == varies* ]]; then
    left_out=$((left_out + 1))
    measure songs "$name" varies "$work/excerpt.wav" "$work/labelled"
    continue
  fi
  measure songs "$name" "$label" "$work/excerpt.wav" "$work/labelled" "$work/downbeats-labelled" "$metre"
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
  read -r style label beats _ < <("$build/groovegen" "$seed" 30 "$work/groove")
  fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/groove.wav" "$font" "$work/groove.mid" > /dev/null 2>&1
  metre=$beats
  [ "$style" == six-eight ] && metre=6/8
  measure "$group" "$(printf 'groove-%03d-%s' "$seed" "$style")" "$label" "$work/groove.wav" "$work/groove.beats" \
    "$work/groove.downbeats" "$metre"
done
for metre in 2/4 3/4 4/4 6/8; do
  for seed in $(seq 16 31); do
    bar=${metre%/*}
    [ "$metre" == 6/8 ] && bar=2
    read -r style label _ < <("$build/groovegen" "$seed" 30 "$work/groove" --metre "$metre" --upbeat $((seed % bar)))
    fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/groove.wav" "$font" "$work/groove.mid" > /dev/null 2>&1
    expected=$bar
    [ "$metre" == 6/8 ] && expected=6/8
    measure metres "$(printf '%s-%02d-%s' "${metre/\//-}" "$seed" "$style")" "$label" "$work/groove.wav" \
      "$work/groove.beats" "$work/groove.downbeats" "$expected"
  done
done
for style in dembow tresillo-pop habanera; do
  for seed in $(seq 16 31); do
    read -r _ label _ < <("$build/groovegen" "$seed" 30 "$work/groove" --style "$style")
    fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/groove.wav" "$font" "$work/groove.mid" > /dev/null 2>&1
    measure figures "$(printf '%s-%02d' "$style" "$seed")" "$label" "$work/groove.wav" "$work/groove.beats"
  done
done
# Whole tempos: grooves as a band plays them and as a sequencer does, and
# clicks.
for seed in $(seq 0 31); do
  machine=
  [ $((seed % 2)) -eq 1 ] && machine=--machine
  read -r style label _ < <("$build/groovegen" "$((seed * 7 + 3))" 30 "$work/groove" --whole $machine)
  [ "$label" == varies ] && continue
  fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$work/groove.wav" "$font" "$work/groove.mid" > /dev/null 2>&1
  measure whole "$(printf 'whole-%03d-%s%s' "$((seed * 7 + 3))" "$style" "${machine:+-machine}")" "$label" "$work/groove.wav" \
    "$work/groove.beats"
done
for bpm in 72 85 96 100 110 118 122 124 126 128 132 140 150 160 170 174; do
  "$build/beatgen" "$bpm" 44100 30 "$work/clip.wav" 0.21
  awk -v b="$bpm" 'BEGIN { for (t = 0.21; t < 30; t += 60 / b) printf "%.3f\n", t }' > "$work/labelled"
  measure whole "clip-${bpm}bpm" "$bpm" "$work/clip.wav" "$work/labelled"
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
for group in songs beatgen clicks grooves held-out beatless metres figures whole; do
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
echo "| confidence | songs | right | grooves (tuning) | right | held-out | right | clicks and beatgen | right | metres and figures | right |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
awk '$2 == "accurate" && $3 != "varies" && $1 != "beatless" && $6 != "null" {
    band = int($6 * 5); if (band > 4) band = 4
    g = $1 == "beatgen" || $1 == "clicks" ? "clicks" : $1 == "metres" || $1 == "figures" ? "other" : $1
    n[g, band]++; r[g, band] += $4
  }
  END {
    for (b = 0; b < 5; b++) {
      printf "| %.1f-%.1f |", b / 5, (b + 1) / 5
      split("songs grooves held-out clicks other", gs, " ")
      for (i = 1; i <= 5; i++) {
        if (n[gs[i], b] > 0) printf " %d | %.0f%% |", n[gs[i], b], 100 * r[gs[i], b] / n[gs[i], b]; else printf " 0 | - |"
      }
      printf "\n"
    }
  }' "$results"
echo
for group in songs grooves held-out metres figures; do
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
echo "Beats on the off-beats (the points halfway between the labelled beats fit them better), of the files whose tempo is right:"
for group in songs beatgen clicks grooves held-out metres whole; do
  awk -v g="$group" '$1 == g && $2 == "accurate" && $8 != "-" { n++; off += $8 }
    END { if (n) printf "%s: %d of %d (%.1f%%)\n", g, off, n, 100 * off / n }' "$results"
done
echo
echo "Bars: downbeat F-measure (70 ms) over the files whose tempo is right (6/8 counted in eighths included), and the metre found:"
echo
echo "| group | metre | files | downbeat F | metre right | none found | other metre |"
echo "|---|---|---|---|---|---|---|"
for group in songs grooves held-out metres; do
  for metre in 2 3 4; do
    awk -v g="$group" -v m="$metre" '$1 == g && $2 == "accurate" && $11 == m && $9 != "-" {
        n++; f += $9; right += ($10 == m); none += ($10 == "null")
      }
      END { if (n) printf "| %s | %s | %d | %.3f | %.1f%% | %d | %d |\n", g, m, n, f / n, 100 * right / n, none, n - right - none }' "$results"
  done
done
awk '$2 == "accurate" && ($1 == "beatgen" || $1 == "clicks" || $1 == "beatless") && $4 == 1 { n++; none += ($10 == "null") }
  END { printf "\nno metre found (as it should be for clicks: beatgen and clicks have a backbeat, so bars of two count too): %d of %d beatgen, clicks and beatless files\n", none, n }' "$results"
echo
echo "Snapping: of the files whose tempo is right, those at a whole tempo reported exactly (with --decimals 2) and the others within 0.05 BPM:"
echo
echo "| group | whole tempos | reported exactly | other tempos | within 0.05 | snapped to a whole or half |"
echo "|---|---|---|---|---|---|"
for group in songs beatgen clicks grooves held-out metres whole; do
  awk -v g="$group" '$1 == g && $2 == "accurate" && $4 == 1 {
      whole = ($13 == int($13))
      if (whole) { w++; exact += ($14 + 0 == $13 + 0) }
      else { o++; near += ($14 - $13 <= 0.05 && $13 - $14 <= 0.05); snapped += (2 * $14 == int(2 * $14)) }
    }
    END { printf "| %s | %d | %d | %d | %d | %d |\n", g, w, exact, o, near, snapped }' "$results"
done
if [ -n "$base" ]; then
  echo
  awk '$2 == "accurate" { n++; if ($12 == "changed") { changed++; names = names " " $15 } }
    END { printf "default records (tempo-scan FILE) that differ from the base build'"'"'s: %d of %d files:%s\n", changed, n, names }' "$results"
fi
echo
for method in classic accurate; do
  awk -v m="$method" '$1 == "songs" && $2 == m && $3 != "varies" { n++; a1 += $4; a2 += $5 }
    END { printf "accuracy %s: Acc1 %.1f%% Acc2 %.1f%% (%d files)\n", m, 100 * a1 / n, 100 * a2 / n, n }' "$results"
done
