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
# With "tags" after the library, the cost of writing tags is timed instead:
# a first --write-tags run over a fresh copy of the library (every file
# written through a verified copy) and a second one (nothing left to
# write), each against the same scan without tags. With "db", the cost of
# the index (--db) is timed: a first run that fills a new index against the
# same scan without one, and a second run over an unchanged library of
# 1,000 files (copies of ten short AAC clips, which only ffmpeg decodes:
# each a file of its own), which stats the files and reads the index and
# starts no decoder (it runs with no decoder at all, and must report every
# file as before).
#
#   bench/scan_compare.sh [BUILD_DIR] [RUNS] [LIBRARY...] [tags|db]   (BUILD_DIR: release or test preset)
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
runs=${2:-5}
shift 2 || shift $#
mode=speed
if [ $# -gt 0 ] && [[ ${!#} == tags || ${!#} == db ]]; then mode=${!#}; set -- "${@:1:$#-1}"; fi
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
    *.m4a) ffmpeg -nostdin -loglevel error -y -i "$1" -c:a aac "$2" ;;
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

if [ "$mode" == tags ]; then
  library=${libraries[0]}
  make_library "$library"
  # tagged ARGS...: tempo-scan with tags over the copy in $work/tagged.
  tagged() { "$build/tempo-scan" --no-progress -j "$jobs" "$@" "$work/tagged"; }
  fresh() { rm -rf "$work/tagged" && cp -a "$work/lib" "$work/tagged" && sync; }
  fresh
  written=$(tagged --write-tags | cut -f3 | grep -c '^written$' || true)
  files=$(find "$work/lib" -type f | wc -l)
  [ "$written" -eq "$files" ] || { echo "only $written of $files files were written" >&2; exit 1; }
  plain=(); first=(); second=()
  for ((i = 0; i < runs; i++)); do
    fresh
    plain+=("$(wall_us tagged)")
    first+=("$(wall_us tagged --write-tags)")
    second+=("$(wall_us tagged --write-tags)")
  done
  plain_us=$(printf '%s\n' "${plain[@]}" | median)
  first_us=$(printf '%s\n' "${first[@]}" | median)
  second_us=$(printf '%s\n' "${second[@]}" | median)
  echo "library $library: $files files, all written by the first run; medians of $runs alternating runs on $jobs CPUs"
  echo
  echo "| run | wall time (s) | ratio to the scan without tags |"
  echo "|---|---|---|"
  awk -v p="$plain_us" -v f="$first_us" -v s="$second_us" -v j="$jobs" 'BEGIN {
    printf "| tempo-scan -j %d (no tags) | %.2f | 1.000 |\n", j, p / 1e6
    printf "| tempo-scan -j %d --write-tags, first run (every file written and verified) | %.2f | %.3f |\n", j, f / 1e6, f / p
    printf "| tempo-scan -j %d --write-tags, second run (nothing to write) | %.2f | %.3f |\n", j, s / 1e6, s / p
  }'
  exit 0
fi

if [ "$mode" == db ]; then
  library=${libraries[0]}
  make_library "$library"
  indexed() { rm -f "$work/index.db"*; "$build/tempo-scan" --no-progress -j "$jobs" --db "$work/index.db" "$work/lib"; }
  plain=(); first=()
  for ((i = 0; i < runs; i++)); do
    plain+=("$(wall_us "$build/tempo-scan" --no-progress -j "$jobs" "$work/lib")")
    first+=("$(wall_us indexed)")
  done
  files=$(find "$work/lib" -type f | wc -l)
  # 1,000 files of 5 s, each its own copy of one of ten clips, in ten folders.
  for i in $(seq 0 9); do
    "$build/beatgen" $((90 + 7 * i)) 44100 5 "$work/src.wav" && encode "$work/src.wav" "$work/short$i.m4a"
  done
  for ((i = 0; i < 1000; i++)); do
    mkdir -p "$work/big/$((i / 100))" && cp "$work/short$((i % 10)).m4a" "$work/big/$((i / 100))/$i.m4a"
  done
  big() { "$build/tempo-scan" --no-progress -j "$jobs" --db "$work/big.db" "$work/big"; }
  big > "$work/big-first.tsv"
  again=()
  for ((i = 0; i < runs; i++)); do again+=("$(TEMPO_FFMPEG=/nonexistent wall_us big)"); done
  TEMPO_FFMPEG=/nonexistent big > "$work/big-again.tsv" ||
    { echo "the rerun failed: it must have needed a decoder" >&2; exit 1; }
  cmp -s "$work/big-first.tsv" "$work/big-again.tsv" || { echo "the rerun reported otherwise" >&2; exit 1; }
  plain_us=$(printf '%s\n' "${plain[@]}" | median)
  first_us=$(printf '%s\n' "${first[@]}" | median)
  again_us=$(printf '%s\n' "${again[@]}" | median)
  echo "library $library: $files files; then 1,000 copies; medians of $runs alternating runs on $jobs CPUs"
  echo
  echo "| run | wall time (s) | ratio to the scan without an index |"
  echo "|---|---|---|"
  awk -v p="$plain_us" -v f="$first_us" -v a="$again_us" -v j="$jobs" -v n="$files" 'BEGIN {
    printf "| tempo-scan -j %d, %d files, no index | %.2f | 1.000 |\n", j, n, p / 1e6
    printf "| tempo-scan -j %d --db, %d files, first run into a new index | %.2f | %.3f |\n", j, n, f / 1e6, f / p
    printf "| tempo-scan -j %d --db, 1,000 files unchanged, second run (no decoder) | %.3f | |\n", j, a / 1e6
  }'
  exit 0
fi


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
