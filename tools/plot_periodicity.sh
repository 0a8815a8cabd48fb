#!/usr/bin/env bash
# Draws docs/periodicity.png: for one song of the accuracy benchmark (the
# same 45-second excerpt, rendered the same way), the classic tempo
# spectrum that tempo prints from above, and the accurate method's
# periodicity curve that tempo-scan chooses from below, each with its
# answer marked. Needs gnuplot (gnuplot-nox), fluidsynth,
# fluid-soundfont-gm, openttd-openmsx, ffmpeg and a release build.
#
#   tools/plot_periodicity.sh [BUILD_DIR] [SONG] [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
song=${2:-city_blues_redfarn}
output=${3:-docs/periodicity.png}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --build "$build" --target tempo spectrum_csv periodicity_csv midi_tempo > /dev/null

mid=/usr/share/games/openttd/baseset/openmsx/$song.mid
fluidsynth -ni -q -g 0.5 -r 44100 -T wav -O s16 -F "$scratch/full.wav" /usr/share/sounds/sf2/FluidR3_GM.sf2 "$mid" \
  > /dev/null 2>&1
ffmpeg -nostdin -loglevel error -y -ss 10 -t 45 -i "$scratch/full.wav" -acodec pcm_s16le -ac 2 "$scratch/song.wav"
label=$("$build/midi_tempo" "$mid" 10 45)
"$build/spectrum_csv" "$scratch/song.wav" > "$scratch/spectrum.csv"
"$build/periodicity_csv" "$scratch/song.wav" > "$scratch/periodicity.csv"
classic=$("$build/tempo" "$scratch/song.wav")
printed=${classic#bpm:}
read -r accurate confidence < <(awk -F, '/^# tempo/ { printf "%.0f %s\n", $2, $3 }' "$scratch/periodicity.csv")

gnuplot <<PLOT
set terminal pngcairo size 1000,800 font "DejaVu Sans,11" noenhanced
set output "$output"
set datafile separator ","
set multiplot layout 2,1 title "$song (openmsx, 45 s from 10 s; its MIDI tempo map says $label BPM)"
set xrange [40:250]
set grid ytics
set key top center
set title "classic: tempo spectrum (what tempo prints: $classic)"
set ylabel "magnitude (sample units)"
plot "$scratch/spectrum.csv" every ::1 using 1:2 with lines lw 2 lc rgb "#3465a4" title "spectrum", \\
     "" every ::1 using 1:(\$1 == $printed ? \$2 : 1/0) with points pt 7 ps 1.6 lc rgb "#cc0000" title "printed tempo"
set title "accurate: periodicity of the onset curve (what tempo-scan reports: $accurate, confidence $confidence)"
set xlabel "tempo (BPM)"
set ylabel "periodicity (1 = perfectly regular)"
plot "$scratch/periodicity.csv" every ::1 using 1:2 with lines lw 2 lc rgb "#3465a4" title "periodicity curve", \\
     "" every ::1 using 1:(strcol(3) eq "chosen" ? \$2 : 1/0) with points pt 7 ps 1.8 lc rgb "#1a7f37" title "chosen beat"
unset multiplot
PLOT
echo "wrote $output (classic $classic, accurate $accurate, label $label)"
