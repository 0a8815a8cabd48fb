#!/usr/bin/env bash
# Stops while tags are written: 40 files tagged, a stop signal (Ctrl-C, a
# termination request, a hang-up) to the whole process group at a random
# moment, 30 rounds. After each, every file is byte-identical to its
# original or has a "written" record and holds the new tempo, and no copy
# is left. Then copies planted as if by a killed run (named and marked as
# this tool marks them) are removed by the next run, which says so, but one
# whose lock another process holds is left, and so is every file that is
# only named like one (".setlist.tempo-200bpm"): kept byte for byte.
# Usage: tag_stops_e2e.sh TEMPO_SCAN BEATGEN WORK_DIR [ROUNDS]
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_helpers.sh" || exit 1
scan=$1 beatgen=$2 work=$3 rounds=${4:-30}
rm -rf "$work" && mkdir -p "$work/originals" || exit 1
cd "$work" || exit 1
# The moments are random, but the same in every run of this test.
RANDOM=2026

# Mostly WAVE files, which are read and checked in place, so that a round
# is quick; a quarter decoded, so that stops also fall on the decoder.
"$beatgen" 128 22050 5 src.wav > /dev/null || exit 1
for i in $(seq -w 1 10); do
  ff -i src.wav -c:a flac "originals/$i-a.flac" && cp src.wav "originals/$i-b.wav" && cp src.wav "originals/$i-c.wav" &&
    cp src.wav "originals/$i-d.wav" || fail "could not make set $i"
done

# How long a whole run takes here, to spread the stops over it.
rm -rf lib && cp -a originals lib
start=$(date +%s%N)
"$scan" --no-progress -j 2 --write-tags lib > /dev/null
whole_ms=$(( ($(date +%s%N) - start) / 1000000 ))

signals=(INT TERM HUP)
for round in $(seq 1 "$rounds"); do
  rm -rf lib && cp -a originals lib
  signal=${signals[$((RANDOM % 3))]}
  delay_ms=$((RANDOM % (whole_ms + 1)))
  setsid "$scan" --no-progress -j 2 --write-tags lib > report.tsv 2> err.txt &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -"$signal" -- -"$pid" 2> /dev/null
  wait "$pid"; status=$?
  case $status in 0 | 1 | 129 | 130 | 143) ;; *) fail "round $round: status $status after SIG$signal" ;; esac
  changed=()
  for file in originals/*; do
    name=${file#originals/}
    if cmp -s "$file" "lib/$name"; then continue; fi
    changed+=("lib/$name")
    grep -q $'\twritten\tlib/'"$name"'$' report.tsv || fail "round $round (SIG$signal at $delay_ms ms): lib/$name changed with no record"
  done
  # Each file changed holds the new tempo: tags as they stand now.
  if [ ${#changed[@]} -gt 0 ]; then
    held=$("$scan" --no-progress --write-tags --dry-run "${changed[@]}" | cut -f3 | sort -u)
    expect_eq "$held" unchanged "round $round: tempo held by the files changed"
  fi
  copies=$(find lib -name '.*.tempo-*')
  [ -z "$copies" ] || fail "round $round (SIG$signal at $delay_ms ms): copies left: $copies"
done

# Copies planted as if by runs that were killed: removed and named, in the
# folders walked and beside a file named alone; one still locked by
# another process (this shell, on its own descriptor) stays.
mark() {
  python3 -c 'import os, sys; os.setxattr(sys.argv[1], "user.tempo-scan.copy", b"a copy made by tempo-scan --write-tags")' "$1"
}
rm -rf lib && cp -a originals lib && mkdir lib/sub && mv lib/01-a.flac lib/sub/
for copy in lib/.02-b.wav.tempo-AbC123 lib/sub/.01-a.flac.tempo-x1Y2z3 lib/.03-c.wav.tempo-held00; do
  head -c 1000 src.wav > "$copy" && mark "$copy"
done
# A user's own files, named as a copy would be, without the mark.
for own in lib/.setlist.tempo-200bpm lib/.mix.tempo-final1 lib/sub/.01-a.flac.tempo-mine00; do
  head -c 500 src.wav > "$own" && cp "$own" "$own.before"
done
exec {lock}< lib/.03-c.wav.tempo-held00
flock -x "$lock" || fail "could not lock the planted copy"
"$scan" --no-progress --write-tags lib > report.tsv 2> err.txt
expect_eq "$(LC_ALL=C sort err.txt)" "tempo-scan: removed a copy left by an interrupted run: lib/.02-b.wav.tempo-AbC123
tempo-scan: removed a copy left by an interrupted run: lib/sub/.01-a.flac.tempo-x1Y2z3" "copies removed"
[ -e lib/.03-c.wav.tempo-held00 ] || fail "a copy whose lock is held was removed"
exec {lock}<&-
head -c 1000 src.wav > lib/sub/.01-a.flac.tempo-again1 && mark lib/sub/.01-a.flac.tempo-again1
"$scan" --no-progress --write-tags lib/sub/01-a.flac lib/.03-c.wav.tempo-held00 > /dev/null 2> err.txt
expect_eq "$(cat err.txt)" "tempo-scan: removed a copy left by an interrupted run: lib/sub/.01-a.flac.tempo-again1" \
  "a copy beside a file named alone"
[ -e lib/.03-c.wav.tempo-held00 ] || fail "a copy named as a path was removed"
out=$("$scan" --no-progress --write-tags --dry-run lib 2> err.txt)
[ -e lib/.03-c.wav.tempo-held00 ] && [ -z "$(cat err.txt)" ] || fail "a dry run removed a copy"
for own in lib/.setlist.tempo-200bpm lib/.mix.tempo-final1 lib/sub/.01-a.flac.tempo-mine00; do
  cmp -s "$own" "$own.before" || fail "a user's file named like a copy was removed or changed: $own"
done

finish
