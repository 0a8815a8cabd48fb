#!/usr/bin/env bash
# Draws docs/spectrum.png: the tempo spectrum that the library computes for
# a generated 95 BPM drum clip, with the strongest peak, the half-tempo
# candidates and the chosen tempo marked. Needs gnuplot (Debian:
# gnuplot-nox) and a release build (cmake --preset release, then
# cmake --build --preset release).
#
#   tools/plot_spectrum.sh [BUILD_DIR] [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
output=${2:-docs/spectrum.png}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$build/beatgen" 95 44100 60 "$scratch/clip.wav"
"$build/spectrum_csv" "$scratch/clip.wav" > "$scratch/spectrum.csv"
line=$("$build/tempo" "$scratch/clip.wav")

# The half-tempo check: the root of the candidates' sum of squares against
# 0.65 times the peak.
read -r peak_bpm peak_value strength < <(awk -F, '
  $3 == "peak" { pb = $1; pv = $2 }
  $3 == "candidate" || $3 == "chosen" { s += $2 * $2 }
  END { printf "%d %.6f %.6f\n", pb, pv, sqrt(s) }' "$scratch/spectrum.csv")

gnuplot <<PLOT
set terminal pngcairo size 1000,560 font "DejaVu Sans,11"
set output "$output"
set datafile separator ","
set title "Tempo spectrum of a generated 95 BPM drum clip (44.1 kHz, 60 s): the tool prints $line"
set xlabel "tempo (BPM)"
set ylabel "magnitude (sample units)"
set xrange [58:242]
set yrange [0:1.4*$peak_value]
set key top right
set grid ytics
set arrow from 60,0.65*$peak_value to 240,0.65*$peak_value nohead dashtype 2 lc rgb "#888888"
set label sprintf("0.65 x peak = %.1f", 0.65*$peak_value) at 200,0.65*$peak_value+5 textcolor rgb "#555555"
set arrow from 88,$strength to 102,$strength nohead lw 2 lc rgb "#1a7f37"
set label sprintf("94-96 BPM together: %.1f > %.1f, so take the strongest", $strength, 0.65*$peak_value) at 104,$strength textcolor rgb "#1a7f37"
plot "$scratch/spectrum.csv" every ::1 using 1:2 with lines lw 2 lc rgb "#3465a4" title "spectrum (181 tempos)", \
     "" every ::1 using 1:(strcol(3) eq "peak" ? \$2 : 1/0) with points pt 7 ps 1.8 lc rgb "#cc0000" title "strongest peak ($peak_bpm BPM)", \
     "" every ::1 using 1:(strcol(3) eq "candidate" ? \$2 : 1/0) with points pt 5 ps 1.4 lc rgb "#f57900" title "half-tempo candidates", \
     "" every ::1 using 1:(strcol(3) eq "chosen" ? \$2 : 1/0) with points pt 9 ps 2.0 lc rgb "#1a7f37" title "chosen"
PLOT
echo "wrote $output ($line)"
