#!/usr/bin/env bash
# tempo-scan against the pipeline a user writes today: find | xargs -P, each
# file converted by ffmpeg into a temporary WAVE and tempo run on it. The
# library is generated: "mixed" (the default) holds 30 FLAC, 30 MP3 and 30
# 16-bit WAVE clips of 60 s; "mp3", "opus", "ogg", "flac" and "wav" hold 30
# songs of 3 to 5 minutes in that one format, and "formats" is the first
# four of those in turn. Runs alternate, medians are compared, and every
# tempo of the classic method must agree with the pipeline's. Both methods
# are timed, and ffmpeg decoding each file alone, the floor of any scan
# through it; for one format or more, in wall time and in CPU time.
#
#   bench/scan_compare.sh [BUILD_DIR] [RUNS] [LIBRARY...]   (BUILD_DIR: release or test preset)
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
runs=${2:-5}
shift 2 || shift $#
libraries=("${@:-mixed}")
[ "${libraries[*]}" == formats ] && libraries=(mp3 opus ogg flac)
jobs=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/timing.sh"

# encode SOURCE OUTPUT: by the output's extension.
encode() {
  case $2 in
    *.flac) ffmpeg -nostdin -loglevel error -y -i "$1" -c:a flac "$2" ;;
    *.mp3) ffmpeg -nostdin -loglevel error -y -i "$1" -c:a libmp3lame -b:a 192k "$2" ;;
    *.ogg) ffmpeg -nostdin -loglevel error -y -i "$1" -c:a libvorbis "$2" ;;
    *.opus) ffmpeg -nostdin -loglevel error -y -i "$1" -c:a libopus "$2" ;;
    *.wav) cp "$1" "$2" ;;
  esac
}
# make_library NAME: the generated files under $work/lib.
make_library() {
  rm -rf "$work/lib" && mkdir -p "$work/lib"
  for i in $(seq 0 29); do
    bpm=$((80 + 3 * i))
    if [ "$1" == mixed ]; then
      "$build/beatgen" $bpm 44100 60 "$work/src.wav"
      for ext in flac mp3 wav; do mkdir -p "$work/lib/$ext" && encode "$work/src.wav" "$work/lib/$ext/clip$i-$bpm.$ext"; done
    else
      "$build/beatgen" $bpm 44100 $((180 + 4 * i)) "$work/src.wav"
      encode "$work/src.wav" "$work/lib/song$i-$bpm.$1"
    fi
  done
  rm "$work/src.wav"
}

export TEMPO="$build/tempo"
pipeline() {
  find "$work/lib" -type f -print0 | xargs -0 -P "$jobs" -n 1 sh -c '
    tmp=$(mktemp --suffix=.wav)
    ffmpeg -nostdin -loglevel error -y -i "$1" -map 0:a:0 -acodec pcm_s16le -ac 2 "$tmp" &&
      printf "%s\t%s\n" "$("$TEMPO" "$tmp")" "$1"
    rm -f "$tmp"' _
}
# The floor under any scan through ffmpeg: each file decoded and converted
# as tempo-scan asks, into nothing.
decode_only() {
  find "$work/lib" -type f -print0 | xargs -0 -P "$jobs" -I{} ffmpeg -nostdin -loglevel error -i {} \
    -map 0:a:0 -acodec pcm_s16le -ac 2 -f null -
}
# scan JOBS [METHOD]
scan() { "$build/tempo-scan" --no-progress -j "$1" --method "${2:-classic}" "$work/lib"; }

# Every tempo agrees: bpm:N from the pipeline, N from tempo-scan.
check_agreement() {
  pipeline | awk -F'\t' '{sub(/^bpm:/, "", $1); print $2 "\t" $1}' | LC_ALL=C sort > "$work/pipeline.txt"
  scan "$jobs" | awk -F'\t' '{print $3 "\t" $1}' | LC_ALL=C sort > "$work/scan.txt"
  files=$(wc -l < "$work/scan.txt")
  if ! cmp -s "$work/pipeline.txt" "$work/scan.txt"; then
    diff "$work/pipeline.txt" "$work/scan.txt" >&2
    echo "tempos differ" >&2
    exit 1
  fi
}

# The medians of $runs alternating runs, in microseconds: pipeline_us,
# classic_us, accurate_us, single_us (classic, -j 1) and floor_us of wall
# time, and the same names ending in _cpu of CPU time.
time_library() {
  local name sample
  local -A times=()
  for ((i = 0; i < runs; i++)); do
    for name in classic accurate pipeline single floor; do
      case $name in
        classic) sample=$(wall_cpu_us scan "$jobs") ;;
        accurate) sample=$(wall_cpu_us scan "$jobs" accurate) ;;
        pipeline) sample=$(wall_cpu_us pipeline) ;;
        single) [ "$1" == mixed ] || continue; sample=$(wall_cpu_us scan 1) ;;
        floor) sample=$(wall_cpu_us decode_only) ;;
      esac
      times[$name.wall]+="${sample% *} "
      times[$name.cpu]+="${sample#* } "
    done
  done
  for name in classic accurate pipeline single floor; do
    printf -v "${name}_us" '%s' "$(tr ' ' '\n' <<< "${times[$name.wall]:-0}" | grep . | median)"
    printf -v "${name}_cpu" '%s' "$(tr ' ' '\n' <<< "${times[$name.cpu]:-0}" | grep . | median)"
  done
}

if [ "${libraries[*]}" == mixed ]; then
  make_library mixed
  check_agreement
  time_library mixed
  echo "library mixed: $files files, all $files tempos agree; medians of $runs alternating runs on $jobs CPUs"
  echo
  echo "| run | wall time (s) | files per second | ratio to the pipeline | CPU time (s) | ratio |"
  echo "|---|---|---|---|---|---|"
  awk -v f="$files" -v p="$pipeline_us" -v s="$classic_us" -v one="$single_us" -v j="$jobs" -v a="$accurate_us" \
    -v d="$floor_us" -v pc="$pipeline_cpu" -v sc="$classic_cpu" -v oc="$single_cpu" -v ac="$accurate_cpu" \
    -v dc="$floor_cpu" 'BEGIN {
    printf "| find + xargs -P %d + ffmpeg to a temporary WAVE + tempo | %.2f | %.1f | 1.000 | %.2f | 1.000 |\n", j, p / 1e6, f * 1e6 / p, pc / 1e6
    printf "| tempo-scan -j %d --method classic | %.2f | %.1f | %.3f | %.2f | %.3f |\n", j, s / 1e6, f * 1e6 / s, s / p, sc / 1e6, sc / pc
    printf "| tempo-scan -j %d --method accurate | %.2f | %.1f | %.3f | %.2f | %.3f |\n", j, a / 1e6, f * 1e6 / a, a / p, ac / 1e6, ac / pc
    printf "| tempo-scan -j 1 --method classic | %.2f | %.1f | %.3f | %.2f | %.3f |\n", one / 1e6, f * 1e6 / one, one / p, oc / 1e6, oc / pc
    printf "| ffmpeg decoding alone, -P %d (the floor of any scan through it) | %.2f | %.1f | %.3f | %.2f | %.3f |\n", j, d / 1e6, f * 1e6 / d, d / p, dc / 1e6, dc / pc
    printf "\naccurate / classic at -j %d: %.3f (CPU %.3f)\n", j, a / s, ac / sc
  }'
  exit 0
fi

# One library per format, one row each, in wall time and in CPU time.
wall_rows=() cpu_rows=()
row() {
  awk -v l="$1" -v f="$2" -v p="$3" -v d="$4" -v s="$5" -v a="$6" 'BEGIN {
    printf "| %s, %d songs | %.2f | %.2f | %.3f | %.2f | %.3f | %.2f | %.3f |", l, f, p / 1e6, d / 1e6, d / p, s / 1e6, s / p, a / 1e6, a / p
  }'
}
for library in "${libraries[@]}"; do
  make_library "$library"
  check_agreement
  time_library "$library"
  wall_rows+=("$(row "$library" "$files" "$pipeline_us" "$floor_us" "$classic_us" "$accurate_us")")
  cpu_rows+=("$(row "$library" "$files" "$pipeline_cpu" "$floor_cpu" "$classic_cpu" "$accurate_cpu")")
done
echo "medians of $runs alternating runs on $jobs CPUs; every classic tempo agrees with the pipeline's"
for kind in wall CPU; do
  echo
  echo "$kind time:"
  echo
  echo "| library | pipeline (s) | ffmpeg decoding alone (s) | ratio | tempo-scan -j $jobs classic (s) | ratio | tempo-scan -j $jobs accurate (s) | ratio |"
  echo "|---|---|---|---|---|---|---|---|"
  if [ $kind == wall ]; then printf '%s\n' "${wall_rows[@]}"; else printf '%s\n' "${cpu_rows[@]}"; fi
done
