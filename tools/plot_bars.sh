#!/usr/bin/env bash
# Draws docs/bars.png: for one song of the accuracy benchmark (the same
# 45-second excerpt, rendered the same way), twelve seconds of the onset
# curve with the beats tempo-scan's accurate method finds, each beat's
# bar-start salience (pulse/bars: harmonic change, low bands' onset and
# accent, weighed), the downbeats it chooses and the bar lines of the song's
# own MIDI file. Needs gnuplot (gnuplot-nox), fluidsynth,
# fluid-soundfont-gm, openttd-openmsx, ffmpeg and a release build.
#
#   tools/plot_bars.sh [BUILD_DIR] [SONG] [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
song=${2:-boogi_marabi_redfarn}
output=${3:-docs/bars.png}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --build "$build" --target beats_csv grid_reading midi_tempo > /dev/null

mid=/usr/share/games/openttd/baseset/openmsx/$song.mid
fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$scratch/full.wav" /usr/share/sounds/sf2/FluidR3_GM.sf2 "$mid" \
  > /dev/null 2>&1
ffmpeg -nostdin -loglevel error -y -ss 10 -t 45 -i "$scratch/full.wav" -acodec pcm_s16le -ac 2 "$scratch/song.wav"
label=$("$build/midi_tempo" "$mid" 10 45)
"$build/midi_tempo" "$mid" 10 45 downbeats > "$scratch/bars.txt"
signature=$(head -1 "$scratch/bars.txt" | cut -d' ' -f3)
sed 1d "$scratch/bars.txt" > "$scratch/labelled.txt"
"$build/beats_csv" "$scratch/song.wav" > "$scratch/curve.csv"
"$build/grid_reading" "$scratch/song.wav" > "$scratch/grid.json"
# One "seconds salience" line per beat, and the downbeats chosen.
field() { sed -E "s/.*\"$1\": \[([^]]*)\].*/\1/" "$scratch/grid.json" | tr ',' '\n' | sed 's/ //g; /^$/d'; }
paste -d' ' <(field beats) <(field salience) > "$scratch/salience.txt"
field downbeats > "$scratch/downbeats.txt"
metre=$(sed -E 's/.*"metre": ([0-9]+|null).*/\1/' "$scratch/grid.json")
tempo=$(sed -E 's/.*"bpm": ([0-9.]+|null).*/\1/' "$scratch/grid.json")
from=10 to=22

gnuplot <<PLOT
set terminal pngcairo size 1100,620 font "DejaVu Sans,11" noenhanced
set output "$output"
set datafile separator whitespace
set multiplot layout 2,1 title "$song (openmsx, 45 s from 10 s), $from to $to s of the excerpt: tempo-scan $tempo BPM, $metre beats a bar; its MIDI file: $label BPM, $signature"
set xrange [$from:$to]
set grid xtics
set key top right
set lmargin 10
set ylabel "onset"
set yrange [-0.3:2.4]
set format x ""
plot "$scratch/downbeats.txt" using 1:(2.4) with impulses lw 3 lc rgb "#1a7f37" title "downbeats found", \\
     "$scratch/salience.txt" using 1:(2.4) with impulses lw 1 lc rgb "#8fd19e" title "beats found", \\
     "< grep -v '^#' $scratch/curve.csv | tr ',' ' '" every ::1 using 1:2 with lines lw 1.5 lc rgb "#3465a4" title "onset curve, all bands", \\
     "$scratch/labelled.txt" using 1:(-0.18) with points pt 11 ps 1.4 lc rgb "#cc0000" title "bar lines of the MIDI file"
set format x "%g"
set xlabel "seconds into the excerpt"
set ylabel "bar-start salience"
low = $(awk -v a=$from -v b=$to '$1 >= a && $1 <= b && (!n++ || $2 < m) { m = $2 } END { print m - 1.5 }' "$scratch/salience.txt")
set yrange [low:*]
plot "$scratch/salience.txt" using 1:2 with impulses lw 4 lc rgb "#3465a4" title "each beat's salience (about the mean)", \\
     "$scratch/downbeats.txt" using 1:(low + 0.9) with points pt 9 ps 1.4 lc rgb "#1a7f37" title "downbeats found", \\
     "$scratch/labelled.txt" using 1:(low + 0.4) with points pt 11 ps 1.2 lc rgb "#cc0000" title "bar lines of the MIDI file"
unset multiplot
PLOT
echo "wrote $output (tempo $tempo, metre $metre, label $label $signature)"
