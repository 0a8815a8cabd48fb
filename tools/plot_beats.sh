#!/usr/bin/env bash
# Draws docs/beats.png: for one song of the accuracy benchmark (the same
# 45-second excerpt, rendered the same way), eight seconds of the onset
# curve that tempo-scan's accurate method tracks, with the beats it finds
# and the beats of the song's own MIDI tempo map. Needs gnuplot
# (gnuplot-nox), fluidsynth, fluid-soundfont-gm, openttd-openmsx, ffmpeg and
# a release build.
#
#   tools/plot_beats.sh [BUILD_DIR] [SONG] [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
song=${2:-city_blues_redfarn}
output=${3:-docs/beats.png}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --build "$build" --target beats_csv midi_tempo > /dev/null

mid=/usr/share/games/openttd/baseset/openmsx/$song.mid
fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$scratch/full.wav" /usr/share/sounds/sf2/FluidR3_GM.sf2 "$mid" \
  > /dev/null 2>&1
ffmpeg -nostdin -loglevel error -y -ss 10 -t 45 -i "$scratch/full.wav" -acodec pcm_s16le -ac 2 "$scratch/song.wav"
label=$("$build/midi_tempo" "$mid" 10 45)
"$build/midi_tempo" "$mid" 10 45 beats > "$scratch/labelled.txt"
"$build/beats_csv" "$scratch/song.wav" > "$scratch/curve.csv"
grep '^# beat,' "$scratch/curve.csv" | cut -d, -f2 > "$scratch/found.txt"
read -r tempo confidence < <(awk -F, '/^# tempo/ { print $2, $3 }' "$scratch/curve.csv")
from=10 to=18

gnuplot <<PLOT
set terminal pngcairo size 1100,520 font "DejaVu Sans,11" noenhanced
set output "$output"
set datafile separator ","
set title "$song (openmsx, 45 s from 10 s): onset curve and beats, $from to $to s of the excerpt\ntempo-scan: $tempo BPM, confidence $confidence; its MIDI tempo map: $label BPM"
set xrange [$from:$to]
set yrange [-0.25:2.4]
set xlabel "seconds into the excerpt"
set ylabel "onset (mean rise of the band levels)"
set grid xtics
set key top right
plot "$scratch/found.txt" using 1:(2.4) with impulses lw 1.5 lc rgb "#8fd19e" title "beats found", \\
     "$scratch/curve.csv" every ::1 using 1:3 with lines lw 1 lc rgb "#c8c8c8" title "low bands (below 170 Hz)", \\
     "" every ::1 using 1:2 with lines lw 1.5 lc rgb "#3465a4" title "onset curve, all bands", \\
     "$scratch/found.txt" using 1:(-0.08) with points pt 9 ps 1.4 lc rgb "#1a7f37" notitle, \\
     "$scratch/labelled.txt" using 1:(-0.18) with points pt 11 ps 1.4 lc rgb "#cc0000" title "beats of the MIDI tempo map"
PLOT
echo "wrote $output (tempo $tempo, confidence $confidence, label $label)"
