#!/usr/bin/env bash
# tempo-scan.exe under wine against the Linux tempo-scan on the same
# folder: byte-identical records in every format and method (the path
# separator aside), then the decoder's crash, time limit and complaint, and
# a stop by Ctrl-C and by the end of tempo-scan itself, after which no
# decoder may be left; --write-tags, dry and real, on the same library. The decoder is the stand-in child, built for both
# platforms, as ffmpeg would be called.
# Without SQLite (noindex) --db is refused; with it, the index is tested
# by windows_library_e2e.sh.
#   windows_e2e.sh WINE HOST_BUILD TEMPO_SCAN_EXE STAND_IN_EXE WORK_DIR index|noindex
set -uo pipefail
wine=$1 host=$2 scan_exe=$3 stand_in_exe=$4 work=$5 index=$6
source "$(dirname "$0")/../support/e2e_helpers.sh"
export WINEDEBUG=-all
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
# Copies under this test's own folder, so the process list shows only ours.
cp "$stand_in_exe" decoder.exe && cp "$host/tests/stand_in" decoder || exit 1

# A library with a Unicode name, a name with spaces and &, a file deeper
# than 260 characters, one only the decoder reads, and one it refuses.
deep=lib
for part in 1 2 3 4 5; do deep="$deep/folder-$part-$(printf 'x%.0s' {1..60})"; done
mkdir -p "lib/sub dir" "lib/ünï テ" "$deep"
"$host/beatgen" 120 44100 20 lib/a.wav > /dev/null
"$host/beatgen" 97 22050 20 "lib/sub dir/b & c.wav" > /dev/null
"$host/beatgen" 140 48000 20 "lib/ünï テ/テンポ.wav" > /dev/null
"$host/beatgen" 88 44100 20 "$deep/deep.wav" > /dev/null
{ printf FAKE; cat lib/a.wav; } > "lib/sub dir/disguised.flac"
echo "not audio" > lib/garbage.mp3
[ ${#deep} -gt 260 ] || fail "the deep folder is only ${#deep} characters"

for method in classic accurate; do
  for format in tsv csv jsonl; do
    TEMPO_FFMPEG=$work/decoder "$host/tempo-scan" --method $method --format $format lib > linux.out
    linux_status=$?
    TEMPO_FFMPEG=$work/decoder.exe "$wine" "$scan_exe" --method $method --format $format lib > windows.out
    windows_status=$?
    expect_eq "$windows_status" "$linux_status" "$method $format status"
    # The separator aside: JSON writes the backslash escaped.
    if [ $format = jsonl ]; then sed 's#\\\\#/#g' windows.out > windows.norm; else tr '\\' '/' < windows.out > windows.norm; fi
    cmp -s windows.norm linux.out || fail "$method $format records differ: $(diff linux.out windows.norm | head -5)"
  done
done
# The records name the files as Windows does.
TEMPO_FFMPEG=$work/decoder.exe "$wine" "$scan_exe" --method classic lib > windows.tsv
expect_eq "$(grep -c 'lib\\sub dir\\b & c.wav$' windows.tsv)" 1 "a path with backslashes"
expect_eq "$(wc -l < windows.tsv)" 6 "records"
# A report file with a Unicode name holds the same bytes.
TEMPO_FFMPEG=$work/decoder.exe "$wine" "$scan_exe" --method classic -o "réport テ.tsv" lib
cmp -s "réport テ.tsv" windows.tsv || fail "the report file differs from standard output"
# What a tag-writing run would do is what Linux's would, the Unicode names
# included, and then does: the Linux tempo-scan finds each tempo already in
# its tag. Not on the deep file: wine cannot give the real path of a file
# past 260 characters (GetFinalPathNameByHandleW answers ERROR_MORE_DATA
# whatever the room), which Windows gives.
cp -r lib tagged && rm -rf tagged/folder-1-*
TEMPO_FFMPEG=$work/decoder "$host/tempo-scan" --method classic --write-tags --dry-run tagged > linux.out
linux_status=$?
TEMPO_FFMPEG=$work/decoder.exe "$wine" "$scan_exe" --method classic --write-tags --dry-run tagged | tr '\\' '/' > windows.out
expect_eq "${PIPESTATUS[0]}" "$linux_status" "--write-tags --dry-run status"
cmp -s windows.out linux.out || fail "--write-tags --dry-run records differ: $(diff linux.out windows.out | head -5)"
expect_eq "$(grep -c $'\twould write\t' windows.out)" 3 "files that would be written: $(cat windows.out)"
TEMPO_FFMPEG=$work/decoder.exe "$wine" "$scan_exe" --method classic --write-tags tagged > written.out
expect_eq "$(grep -c $'\twritten\t' written.out)" 3 "files written: $(cat written.out)"
TEMPO_FFMPEG=$work/decoder "$host/tempo-scan" --method classic --write-tags --dry-run tagged > reread.out
expect_eq "$(grep -c $'\tunchanged\t' reread.out)" 3 "tempos found written: $(cat reread.out)"
[ -z "$(find tagged -name '.*tempo-*')" ] || fail "a copy was left behind: $(find tagged -name '.*tempo-*')"
# Without SQLite the index is refused before any file is read, and no
# index file is made.
if [ "$index" = noindex ]; then
  "$wine" "$scan_exe" --db index.db lib > db.out 2> db.err
  expect_eq "$?" 2 "--db status"
  tr -d '\r' < db.err | grep -qFx "tempo-scan: --db needs a tempo-scan built with SQLite" || fail "--db message: $(cat db.err)"
  expect_eq "$(cat db.out)" "" "--db output"
  [ -e index.db ] && fail "--db made a file"
fi
# The collection options are the same as on Linux: a name that starts with
# '.' is skipped unless --hidden, --exclude and --extensions take effect.
mkdir -p col/.hidden col/skip && cp lib/a.wav col/.dot.wav && cp lib/a.wav col/.hidden/h.wav && cp lib/a.wav col/skip/s.wav &&
  cp lib/a.wav col/kept.wav && cp lib/a.wav col/other.aiff
for args in "" "--hidden" "--hidden --exclude skip --extensions wav"; do
  # shellcheck disable=SC2086
  "$host/tempo-scan" --method classic $args col > linux.out
  # shellcheck disable=SC2086
  "$wine" "$scan_exe" --method classic $args col | tr '\\' '/' > windows.out
  cmp -s windows.out linux.out || fail "collection [$args] differs: $(diff linux.out windows.out | head -5)"
done

# The decoder crashes, hangs, closes its pipes and lingers, or complains.
mkdir bad
for name in crash hang linger garbage; do echo x > bad/$name.mp3; done
TEMPO_FFMPEG=$work/decoder.exe "$wine" "$scan_exe" --timeout 2 -j 2 bad > bad.out
expect_eq "$?" 1 "bad files status"
expect_eq "$(cat bad.out)" "$(printf '\terror: %s ended by exception 0xC0000005\tbad\\crash.mp3
\terror: not readable as audio (decoder: Invalid data found when processing input)\tbad\\garbage.mp3
\terror: decoding took longer than 2 s\tbad\\hang.mp3
\terror: decoding took longer than 2 s\tbad\\linger.mp3' "$work/decoder.exe")" "bad files records"

decoders_left() { ps -eo pid=,args= | grep -F "$work/decoder.exe" | grep -v grep | awk '{print $1}'; }
# Waits up to 20 s for a decoder of this test to be running.
await_decoder() {
  for _ in $(seq 1 100); do [ -n "$(decoders_left)" ] && return 0; sleep 0.2; done
  fail "no decoder started"
}
expect_no_decoder() {
  for _ in $(seq 1 50); do [ -z "$(decoders_left)" ] && return 0; sleep 0.2; done
  fail "$1: decoders left: $(decoders_left)"
  for pid in $(decoders_left); do kill -KILL "$pid" 2> /dev/null; done
}
expect_no_decoder "after the bad files"

# Ctrl-C (wine turns SIGINT into the console's Ctrl-C event): status 130,
# the finished records kept, no decoder left. Then tempo-scan itself
# killed: its Job Object takes the decoder with it.
mkdir stop && cp lib/a.wav stop/1.wav && for i in 2 3 4; do echo x > stop/$i-hang.mp3; done
for how in INT KILL; do
  TEMPO_FFMPEG=$work/decoder.exe "$wine" "$scan_exe" -j 1 --timeout 600 stop > stop.out &
  pid=$!
  await_decoder
  kill -$how $pid
  wait $pid
  status=$?
  if [ $how = INT ]; then
    expect_eq "$status" 130 "Ctrl-C status"
    expect_eq "$(cat stop.out)" "$(printf '120\tok\tstop\\1.wav')" "Ctrl-C keeps the finished records"
  fi
  expect_no_decoder "after SIG$how"
done
finish
