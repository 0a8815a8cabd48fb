#!/usr/bin/env bash
# tempo-scan.exe under wine on a library of MP3, FLAC, Ogg Vorbis, Opus and
# WAVE files, with no ffmpeg.exe anywhere (TEMPO_FFMPEG names one that is
# not there, on both systems):
#   - the records, JSON Lines with --beats --decimals 2, are byte for byte
#     those of the Linux tempo-scan on the same files, paths aside, cut
#     files included;
#   - the index (--db): a first run reports what a run without it reports
#     and makes the rows, with the same schema and the same values as the
#     Linux tempo-scan's index of the same files; a second run reports the
#     same byte for byte and reads no file (each was overwritten with
#     zeros, its size and time kept); a file changed is analysed again;
#     a run killed outright is resumed where it stopped; two runs at once
#     both finish; a file that is not an index is refused and left as it
#     was.
#   windows_library_e2e.sh WINE HOST_BUILD TEMPO_SCAN_EXE WORK_DIR
set -uo pipefail
wine=$1 host=$2 scan_exe=$3 work=$4
source "$(dirname "$0")/../support/e2e_helpers.sh"
export WINEDEBUG=-all
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
export TEMPO_FFMPEG=$work/no-ffmpeg/ffmpeg
linux() { "$host/tempo-scan" --no-progress "$@"; }
windows() { TEMPO_FFMPEG=$work/no-ffmpeg/ffmpeg.exe "$wine" "$scan_exe" --no-progress "$@"; }
# JSON Lines from Windows with the separator as Linux writes it.
slashed() { sed 's#\\\\#/#g'; }
rows() { sqlite3 "$1" 'SELECT count(*) FROM files'; }
# clip NAME BPM RATE SECONDS FFMPEG_OPTIONS...: a drum clip, encoded.
clip() {
  local name=$1 bpm=$2 rate=$3 seconds=$4
  shift 4
  "$host/beatgen" "$bpm" "$rate" "$seconds" src.wav > /dev/null && ff -i src.wav "$@" "$name" ||
    fail "could not make $name"
}
# Overwrites each file named with zeros, keeping its size and time: a run
# that reads it finds no audio.
zeroed() {
  local file stamp
  for file in "$@"; do
    stamp=$(stat -c %y "$file")
    head -c "$(stat -c %s "$file")" /dev/zero | dd of="$file" conv=notrunc status=none
    touch -d "$stamp" "$file"
  done
}

mkdir -p "lib/sub dir" "lib/ünï テ"
clip lib/a.mp3 92 44100 20 -c:a libmp3lame -b:a 192k
clip lib/b-48k.mp3 128 48000 20 -c:a libmp3lame
clip "lib/sub dir/c-mono.mp3" 140 22050 20 -c:a libmp3lame -ac 1
clip lib/d.flac 105 44100 20 -c:a flac
clip "lib/ünï テ/e-24bit.flac" 87 48000 20 -c:a flac -sample_fmt s32 -bits_per_raw_sample 24
clip lib/f.ogg 174 44100 20 -c:a libvorbis
clip "lib/sub dir/g-16k.ogg" 120 16000 20 -c:a libvorbis
clip lib/h.opus 99 48000 20 -c:a libopus
clip "lib/sub dir/i-mono.opus" 132 48000 20 -c:a libopus -ac 1
"$host/beatgen" 111 44100 20 lib/j.wav > /dev/null
# Cut short: analysed as far as they go, with a warning.
for name in a.mp3 d.flac f.ogg h.opus; do
  head -c $(($(stat -c %s "lib/$name") * 2 / 3)) "lib/$name" > "lib/cut-$name"
done
files=$(find lib -type f | wc -l)

# The records, byte for byte.
linux --format jsonl --beats --decimals 2 lib > linux.jsonl
expect_eq "$?" 0 "Linux status"
windows --format jsonl --beats --decimals 2 lib > windows-raw.jsonl
expect_eq "$?" 0 "Windows status"
slashed < windows-raw.jsonl > windows.jsonl
cmp -s windows.jsonl linux.jsonl || fail "records differ: $(diff linux.jsonl windows.jsonl | head -8)"
expect_eq "$(grep -c '"status": "ok"' linux.jsonl)" "$files" "files with a tempo"
expect_eq "$(grep -c '"warning": "file ends early"' linux.jsonl)" 4 "files that end early"
expect_eq "$(grep -c '"beats": \[[0-9]' linux.jsonl)" "$files" "files with beats"
grep -qF '"path": "lib\\sub dir\\c-mono.mp3"' windows-raw.jsonl || fail "Windows paths: $(head -3 windows-raw.jsonl)"

# The index: the first run reports what a run without it reports.
windows lib > full.tsv
windows --db index.db lib > first.tsv
expect_eq "$?" 0 "status of the first run with --db"
cmp -s first.tsv full.tsv || fail "first run with --db: $(diff full.tsv first.tsv | head -5)"
expect_eq "$(rows index.db)" "$files" "rows after the first run"
# The same schema as Linux's index, and the same values, the identity of
# the file aside but for its size and time (kept to 100 ns on Windows).
linux --db linux.db lib > /dev/null
for pragma in application_id user_version; do
  expect_eq "$(sqlite3 index.db "PRAGMA $pragma")" "$(sqlite3 linux.db "PRAGMA $pragma")" "PRAGMA $pragma"
done
expect_eq "$(sqlite3 index.db .schema)" "$(sqlite3 linux.db .schema)" "the index's schema"
# Rows are keyed by the file's real path: Z:\work\lib\a.mp3 under wine is
# /work/lib/a.mp3.
values="size, mtime_ns / 100, method, version, status, bpm, tempo, confidence, ends_early, error, failure,
  duration, sample_rate, channels, codec, tag, hex(beats), hex(tempo_changes), hex(downbeats), metre FROM files"
sqlite3 index.db "SELECT replace(substr(CAST(path AS TEXT), 3), char(92), '/'), $values ORDER BY 1" > windows-rows.txt
sqlite3 linux.db "SELECT CAST(path AS TEXT), $values ORDER BY 1" > linux-rows.txt
expect_eq "$(grep -c "^$(pwd -P)/lib/" linux-rows.txt)" "$files" "rows keyed by the files' real paths"
cmp -s windows-rows.txt linux-rows.txt || fail "the indexes differ: $(diff linux-rows.txt windows-rows.txt | head -6)"

# A second run reads nothing: every file is zeros now, and the report is
# the same in every format.
windows lib > before.tsv
windows --format jsonl --beats --decimals 2 lib > before.jsonl
cp -a lib lib.orig
mapfile -t all < <(find lib -type f)
zeroed "${all[@]}"
windows lib > unindexed.tsv
cmp -s unindexed.tsv full.tsv && fail "the zeroed files still decode"
windows --db index.db lib > second.tsv
expect_eq "$?" 0 "status of a second run"
windows --db index.db --format jsonl --beats --decimals 2 lib > second.jsonl
expect_eq "$?" 0 "status of a second JSON Lines run"
for format in tsv jsonl; do
  [ -s second.$format ] || fail "the second $format run reported nothing"
  cmp -s second.$format before.$format || fail "second $format run: $(diff before.$format second.$format | head -5)"
done
# A file changed is analysed again, alone.
"$host/beatgen" 150 44100 20 src.wav > /dev/null && ff -i src.wav lib/d.flac
windows --db index.db lib > changed.tsv
grep -q $'^150\tok\tlib\\\\d.flac$' changed.tsv || fail "the changed file: $(cat changed.tsv)"
expect_eq "$(grep -v 'd\.flac$' changed.tsv)" "$(grep -v 'd\.flac$' full.tsv)" "the other files after a change"

# Killed outright half way: the next run reads only what the index has
# not got (the rest are zeros by then) and reports what a whole scan does.
# Forty files of a minute (four clips, ten copies of each): a run at -j 1
# takes seconds, even where each file takes a tenth of one.
mkdir kill
for bpm in 96 118 133 151; do
  clip kill/$bpm-0.flac $bpm 44100 60 -c:a flac
  for copy in $(seq 1 9); do cp kill/$bpm-0.flac kill/$bpm-$copy.flac; done
done
windows kill > kill-full.tsv
windows -j 1 --db kill.db kill > killed.tsv &
pid=$!
for _ in $(seq 600); do [ "$(wc -l < killed.tsv)" -ge 4 ] && break; sleep 0.1; done
# A batch of rows is written at most a second after the last.
sleep 1.5
kill -KILL $pid
wait $pid 2> /dev/null
done_rows=$(rows kill.db)
echo "killed with $done_rows of 40 files in the index, $(wc -l < killed.tsv) reported"
[ "$done_rows" -ge 1 ] && [ "$done_rows" -lt 40 ] || fail "rows when the run was killed: $done_rows"
mapfile -t indexed < <(sqlite3 kill.db "SELECT replace(substr(CAST(path AS TEXT), 3), char(92), '/') FROM files")
zeroed "${indexed[@]}"
windows --db kill.db kill > resumed.tsv
expect_eq "$?" 0 "status of the resumed run"
cmp -s resumed.tsv kill-full.tsv || fail "report after a killed run ($done_rows done): $(diff kill-full.tsv resumed.tsv)"
expect_eq "$(sqlite3 kill.db 'PRAGMA integrity_check')" ok "integrity after a killed run"

# Two runs at once on one new index both finish, whole.
windows -j 1 --db twice.db lib.orig > twice-1.tsv &
one=$!
windows -j 1 --db twice.db lib.orig > twice-2.tsv &
two=$!
wait $one; expect_eq "$?" 0 "status of the first of two runs at once"
wait $two; expect_eq "$?" 0 "status of the second of two runs at once"
sed 's#lib\\#lib.orig\\#' full.tsv > full-orig.tsv
for run in 1 2; do
  cmp -s twice-$run.tsv full-orig.tsv || fail "run $run of two at once: $(diff full-orig.tsv twice-$run.tsv | head -5)"
done
expect_eq "$(sqlite3 twice.db 'PRAGMA integrity_check')" ok "integrity after two runs at once"
expect_eq "$(rows twice.db)" "$files" "rows after two runs at once"

# What is not an index is refused, status 2, and left as it was.
cp lib.orig/j.wav song.db
sum=$(sha256sum < song.db)
windows --db song.db lib.orig > refused.tsv 2> refused.err
expect_eq "$?" 2 "status with a WAVE as the index"
expect_eq "$(tr -d '\r' < refused.err)" "tempo-scan: --db song.db: not a tempo-scan index (left as it is)" "its message"
expect_eq "$(cat refused.tsv)" "" "the report with a WAVE as the index"
expect_eq "$(sha256sum < song.db)" "$sum" "the WAVE given as the index"
finish
