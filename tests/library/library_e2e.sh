#!/usr/bin/env bash
# tempo-scan over a library that it remembers (--db) and the collection
# options. A stand-in decoder counts its starts: it notes each one, then
# runs ffmpeg (slowed down where a run is to be stopped half way).
#   - the index: a first run gives the report a run without it gives, a
#     second starts no decoder and gives the same, a changed file is
#     decoded again alone, a deleted one leaves report and index, a run
#     killed outright is resumed where it stopped, two runs at once both
#     finish and leave the index whole, a damaged or foreign file is
#     refused and left as it was, a full disk under the index is named,
#     shards' indexes combine with ATTACH, and tags known to hold the tempo
#     are not opened again;
#   - the collection: hidden names, --hidden, --exclude, --extensions, a
#     file reached twice, tracker modules and a chip-music log, an empty
#     file;
#   - reports: CSV and TSV with a byte that is not UTF-8 read by Python's
#     csv module as strict UTF-8, and a progress line that never wraps in
#     a 28-column terminal.
# Usage: library_e2e.sh TEMPO_SCAN BEATGEN WORK_DIR FAULT_SHIM tags|notags
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_helpers.sh" || exit 1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scan=$1 beatgen=$2 work=$3 shim=$4 tags=$5
rm -rf "$work" && mkdir -p "$work/lib/sub" "$work/bin" || exit 1
cd "$work" || exit 1

# The stand-in decoder: notes its start (and its PID) in $STARTS, waits
# $DECODE_DELAY seconds, then is ffmpeg.
cat > bin/ffmpeg <<'EOF'
#!/bin/sh
echo $$ >> "$STARTS"
[ -n "${DECODE_DELAY:-}" ] && sleep "$DECODE_DELAY"
exec ffmpeg "$@"
EOF
chmod +x bin/ffmpeg
export TEMPO_FFMPEG=$work/bin/ffmpeg
# counted NAME ARGS...: tempo-scan with its decoder starts noted in NAME.starts.
counted() {
  local name=$1
  shift
  : > "$name.starts"
  STARTS=$work/$name.starts "$scan" --no-progress "$@"
}
starts() { wc -l < "$1.starts"; }
rows() { sqlite3 "$1" 'SELECT count(*) FROM files'; }
# The key a file's row has: its folder's real path and its own name.
key() { printf '%s/%s' "$(realpath "$(dirname "$1")")" "$(basename "$1")"; }
# The rows whose key is that of the file PATH names.
rows_of() { sqlite3 "$1" "SELECT count(*) FROM files WHERE path = CAST('$(key "$2")' AS BLOB)"; }
# Ends the stand-in decoders a run left (those whose PIDs it noted).
end_decoders() {
  local pid
  while read -r pid; do kill "$pid" 2> /dev/null; done < "$1"
}

# M4A and AIFF, which only ffmpeg decodes: every analysis starts the
# stand-in, so its starts count the analyses.
bpm=80
for name in a.m4a b.aiff c.m4a sub/d.m4a sub/e.aiff f.m4a g.aiff h.m4a; do
  "$beatgen" $bpm 44100 6 src.wav > /dev/null && ff -i src.wav "lib/$name" || fail "could not make $name"
  bpm=$((bpm + 9))
done
"$beatgen" 140 44100 6 lib/w.wav > /dev/null
: > lib/empty.m4a

# The index: a first run gives what a run without it gives, in every format.
for format in tsv csv jsonl; do
  export STARTS=$work/plain.starts
  "$scan" --no-progress --format $format lib > full.$format 2> /dev/null
done
counted first --db index.db lib > first.tsv; status=$?
expect_eq "$status" 1 "status of the first run (an empty file)"
cmp -s first.tsv full.tsv || fail "first run with --db: $(diff full.tsv first.tsv)"
expect_eq "$(starts first)" 8 "decoder starts of the first run"
grep -q $'^\terror: empty file\tlib/empty.m4a$' first.tsv || fail "no empty file: $(cat first.tsv)"
expect_eq "$(rows index.db)" 10 "rows after the first run"
# A second run starts no decoder, in any format, and reports the same.
for format in tsv csv jsonl; do
  counted second --db index.db --format $format lib > second.$format
  cmp -s second.$format full.$format || fail "second $format run: $(diff full.$format second.$format)"
  expect_eq "$(starts second)" 0 "decoder starts of a second $format run"
done
# The index says what each file is, for queries.
expect_eq "$(sqlite3 index.db "SELECT codec, channels, sample_rate, round(duration) FROM files
  WHERE path = CAST('$(key lib/b.aiff)' AS BLOB)")" "pcm_s16be|2|44100|6.0" "a row's facts"
expect_eq "$(sqlite3 index.db "SELECT count(*) FROM files WHERE status = 'ok' AND bpm BETWEEN 80 AND 100")" 3 \
  "tempos in a range"
# Another method is analysed anew (in a copy of the index), and so is a
# file changed, alone.
cp index.db classic.db
counted classic --db classic.db --method classic lib > classic.tsv
expect_eq "$(starts classic)" 8 "decoder starts with another method"
"$beatgen" 150 44100 6 src.wav > /dev/null && ff -i src.wav lib/sub/d.m4a
"$scan" --no-progress lib > full.tsv 2> /dev/null
counted changed --db index.db lib > changed.tsv
expect_eq "$(starts changed)" 1 "decoder starts after a file changed"
cmp -s changed.tsv full.tsv || fail "report after a file changed: $(diff full.tsv changed.tsv)"
grep -q $'^150\tok\tlib/sub/d.m4a$' changed.tsv || fail "the changed file: $(cat changed.tsv)"
# A file deleted leaves report and index.
rm lib/g.aiff
"$scan" --no-progress lib > full.tsv 2> /dev/null
counted deleted --db index.db lib > deleted.tsv
expect_eq "$(starts deleted)" 0 "decoder starts after a file was deleted"
cmp -s deleted.tsv full.tsv || fail "report after a deletion: $(diff full.tsv deleted.tsv)"
expect_eq "$(rows_of index.db lib/a.m4a)" 1 "a file's row"
expect_eq "$(rows_of index.db lib/g.aiff)" 0 "the deleted file's row"
expect_eq "$(rows index.db)" 9 "rows after a deletion"
expect_eq "$(sqlite3 index.db 'PRAGMA integrity_check')" ok "integrity after the runs"

# The index keeps what it cannot see. A root that is not there (an
# unmounted drive) or is an empty folder (its mount point) keeps its rows,
# and the run says so; so do the files this run's --extensions, --exclude
# or --hidden leave out. The next whole run then analyses nothing again.
unseen() {
  local name=$1
  shift
  counted "$name" --db index.db "$@" > "$name.tsv" 2> "$name.err"
  expect_eq "$(rows index.db)" 9 "rows after a run with $*"
  expect_eq "$(starts "$name")" 0 "decoder starts of a run with $*"
}
mv lib away
unseen missing lib
expect_eq "$(cat missing.err)" "tempo-scan: lib: not found; its 9 indexed files are kept" "words for a root not there"
expect_eq "$(cat missing.tsv)" $'\terror: no such file or directory\tlib' "report of a root not there"
mkdir lib
unseen emptied lib
expect_eq "$(cat emptied.err)" "tempo-scan: lib: empty folder; its 9 indexed files are kept" "words for an empty root"
expect_eq "$(cat emptied.tsv)" "" "report of an empty root"
rmdir lib && mv away lib
unseen extensions --extensions aiff lib
expect_eq "$(cat extensions.err)" \
  "tempo-scan: lib: 7 indexed files left out by this run's --extensions, --exclude or --hidden are kept" \
  "words for files left out by --extensions"
unseen excluded --exclude sub --exclude '*.wav' lib
expect_eq "$(cat excluded.err)" \
  "tempo-scan: lib: 3 indexed files left out by this run's --extensions, --exclude or --hidden are kept" \
  "words for files left out by --exclude"
counted whole --db index.db lib > whole.tsv
expect_eq "$(starts whole)" 0 "decoder starts of a whole run after runs that could not see"
cmp -s whole.tsv full.tsv || fail "report of a whole run after runs that could not see: $(diff full.tsv whole.tsv)"
# A hidden file indexed with --hidden stays when a run leaves it out.
cp lib/a.m4a lib/.h.m4a
counted hidden --db index.db --hidden lib > /dev/null
expect_eq "$(rows_of index.db lib/.h.m4a)" 1 "the hidden file's row"
counted hidden --db index.db lib > /dev/null 2> hidden.err
expect_eq "$(rows_of index.db lib/.h.m4a)" 1 "the hidden file's row after a run without --hidden"
expect_eq "$(cat hidden.err)" \
  "tempo-scan: lib: 1 indexed file left out by this run's --extensions, --exclude or --hidden is kept" \
  "words for a hidden file left out"
# --prune removes, on purpose, the rows of files that are not there: those
# of a root gone, and of a hidden file deleted; not those left out that
# are there.
rm lib/.h.m4a
cp -a lib lib2
counted pruned1 --db index.db lib2 > /dev/null
expect_eq "$(rows index.db)" 19 "rows with a second library"
rm -r lib2
counted pruned2 --db index.db lib2 > /dev/null 2> pruned.err
expect_eq "$(rows index.db)" 19 "rows when the second library is not there"
counted pruned3 --db index.db --prune --extensions aiff lib2 lib > /dev/null 2> pruned.err
expect_eq "$(rows index.db)" 9 "rows after --prune"
expect_eq "$(rows_of index.db lib/.h.m4a)" 0 "the deleted hidden file's row after --prune"
expect_eq "$(rows_of index.db lib/a.m4a)" 1 "a row left out by --extensions after --prune"
expect_eq "$(cat pruned.err)" \
  "tempo-scan: lib: 7 indexed files left out by this run's --extensions, --exclude or --hidden are kept" \
  "words after --prune"

# One row per file, whatever form of its path the command line gives; the
# report prints the paths as given.
for form in ./lib lib/ "$PWD/lib" lib//sub/.. ./lib/../lib; do
  counted form --db index.db "$form" > form.tsv
  expect_eq "$(rows index.db)" 9 "rows after a run over $form"
  expect_eq "$(starts form)" 0 "decoder starts of a run over $form"
  "$scan" --no-progress "$form" > form-full.tsv 2> /dev/null
  cmp -s form.tsv form-full.tsv || fail "report of a run over $form: $(diff form-full.tsv form.tsv)"
done
ln -s lib lib-link
counted form --db index.db lib-link > form.tsv
expect_eq "$(starts form)" 0 "decoder starts of a run over a link to the library"
expect_eq "$(rows index.db)" 9 "rows after a run over a link to the library"
expect_eq "$(head -n 1 form.tsv)" $'80\tok\tlib-link/a.m4a' "a record through a link to the library"
counted form --db index.db lib-link/a.m4a ./lib/sub/d.m4a > form.tsv
expect_eq "$(starts form)" 0 "decoder starts of files named through a link and ./"
expect_eq "$(cut -f3 form.tsv | tr '\n' ' ')" "./lib/sub/d.m4a lib-link/a.m4a " "paths as given"
rm lib-link
expect_eq "$(rows index.db)" 9 "rows after files named through a link"

# An index of schema 1, as 2.3.0 made it (rows keyed by the paths as
# given, relative ones too, and a file under two paths), is brought
# forward by the next run: one row per file, none lost, nothing analysed
# again.
[ -e index.db-wal ] && fail "a run left its log beside the index"
cp index.db old.db
sqlite3 old.db "UPDATE files SET path = CAST('lib' || substr(CAST(path AS TEXT), $(realpath lib | wc -c)) AS BLOB);
  CREATE TEMP TABLE copies AS SELECT * FROM files;
  UPDATE copies SET path = CAST('./' || CAST(path AS TEXT) AS BLOB), analysed_at = analysed_at - 1;
  INSERT INTO files SELECT * FROM copies; ALTER TABLE files DROP COLUMN downbeats;
  ALTER TABLE files DROP COLUMN metre; PRAGMA user_version = 1"
expect_eq "$(sqlite3 old.db "SELECT count(*) FROM files WHERE path = CAST('./lib/sub/d.m4a' AS BLOB)")" 1 \
  "the old index's row under a second path"
counted migrated --db old.db lib > migrated.tsv
expect_eq "$(starts migrated)" 0 "decoder starts over an index of schema 1"
cmp -s migrated.tsv full.tsv || fail "report over an index of schema 1: $(diff full.tsv migrated.tsv)"
expect_eq "$(rows old.db)" 9 "rows of an index of schema 1 brought forward"
expect_eq "$(rows_of old.db lib/sub/d.m4a)" 1 "a row of schema 1 under its key"
expect_eq "$(sqlite3 old.db 'PRAGMA user_version')" 3 "the schema brought forward"

# A read-only index, or one in a folder that cannot be written: refused
# with words (status 2), nothing analysed, nothing made beside it; once it
# can be written again, the next run works. As another user, since
# permissions do not stop root.
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
mkdir -p ro && cp index.db ro/index.db && [ "$(id -u)" -eq 0 ] && chown -R 65534 ro
: > ro.starts && chmod 666 ro.starts
run_as_user() { STARTS=$work/ro.starts "${as_user[@]}" "$scan" --no-progress "$@"; }
refused_ro() {
  local db=$1 words=$2 sum
  sum=$(sha256sum < ro/index.db)
  out=$(run_as_user --db "$db" lib 2> err.txt); status=$?
  expect_eq "$status" 2 "status with a read-only $db"
  expect_eq "$out" "" "report with a read-only $db"
  expect_eq "$(cat err.txt)" "tempo-scan: --db $db: read-only ($words; nothing was changed)" "words for a read-only $db"
  expect_eq "$(ls ro | tr '\n' ' ')" "index.db " "what is beside a read-only $db"
  expect_eq "$(sha256sum < ro/index.db)" "$sum" "a read-only $db left as it was"
  expect_eq "$(wc -l < ro.starts)" 0 "decoder starts with a read-only $db"
}
chmod 444 ro/index.db
refused_ro ro/index.db "the file cannot be written: permission denied"
chmod 644 ro/index.db && chmod 555 ro
refused_ro ro/index.db "nothing can be made in its folder, where SQLite keeps its log: permission denied"
refused_ro ro/new.db "nothing can be made in its folder, where SQLite keeps its log: permission denied"
chmod 755 ro
# What a run of 2.3.0 left beside a read-only index: its log and shared
# memory, read-only. Named, and left as they are.
: > ro/index.db-wal && : > ro/index.db-shm && [ "$(id -u)" -eq 0 ] && chown 65534 ro/index.db-*
chmod 444 ro/index.db-wal ro/index.db-shm
out=$(run_as_user --db ro/index.db lib 2> err.txt); status=$?
expect_eq "$status" 2 "status with a read-only log beside the index"
expect_eq "$(cat err.txt)" "tempo-scan: --db ro/index.db: read-only (its -wal or -shm file beside it cannot be written: \
permission denied; nothing was changed; make them writable)" "words for a read-only log beside the index"
chmod 644 ro/index.db-wal ro/index.db-shm
out=$(run_as_user --db ro/index.db lib 2> /dev/null)
expect_eq "$out" "$(cat full.tsv)" "report once the index can be written again"
expect_eq "$(wc -l < ro.starts)" 0 "decoder starts once the index can be written again"

# Killed outright half way: the next run decodes only what the index has
# not got, and reports what a whole scan reports.
mkdir -p kill
for i in $(seq 10 21); do "$beatgen" $((70 + 5 * i)) 44100 4 src.wav > /dev/null && ff -i src.wav "kill/$i.m4a"; done
"$scan" --no-progress kill > kill-full.tsv
: > killed.starts
STARTS=$work/killed.starts DECODE_DELAY=0.3 "$scan" --no-progress -j 1 --db kill.db kill > /dev/null &
pid=$!
for _ in $(seq 300); do
  done_rows=$(rows kill.db 2> /dev/null)
  [ "${done_rows:-0}" -ge 4 ] && break
  sleep 0.1
done
kill -KILL $pid
wait $pid 2> /dev/null
end_decoders killed.starts
done_rows=$(rows kill.db)
[ "$done_rows" -ge 4 ] && [ "$done_rows" -lt 12 ] || fail "rows when the run was killed: $done_rows"
counted resumed --db kill.db kill > resumed.tsv
expect_eq "$(starts resumed)" $((12 - done_rows)) "decoder starts after a run was killed with $done_rows done"
cmp -s resumed.tsv kill-full.tsv || fail "report after a killed run: $(diff kill-full.tsv resumed.tsv)"
expect_eq "$(sqlite3 kill.db 'PRAGMA integrity_check')" ok "integrity after a killed run"

# Two runs at once on one new index both finish, with whole reports and
# a whole index.
STARTS=/dev/null "$scan" --no-progress -j 1 --db twice.db kill > twice-1.tsv &
one=$!
STARTS=/dev/null "$scan" --no-progress -j 1 --db twice.db kill lib/a.m4a > twice-2.tsv &
two=$!
wait $one; expect_eq "$?" 0 "status of the first of two runs at once"
wait $two; expect_eq "$?" 0 "status of the second of two runs at once"
cmp -s twice-1.tsv kill-full.tsv || fail "first of two runs at once: $(diff kill-full.tsv twice-1.tsv)"
expect_eq "$(sqlite3 twice.db 'PRAGMA integrity_check')" ok "integrity after two runs at once"
expect_eq "$(rows twice.db)" 13 "rows after two runs at once"

# What is not an index of ours, or is damaged, is refused and left as it
# was: status 2 before any file is looked at.
cp index.db damaged.db
python3 -c '
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(4096); f.write(b"\x5a" * 4096)' damaged.db
cp lib/w.wav song.db
sqlite3 other.db 'CREATE TABLE notes(x); INSERT INTO notes VALUES (1)'
for db in damaged.db song.db other.db; do
  sum=$(sha256sum < $db)
  out=$(counted refused --db $db -o refused.tsv lib 2> err.txt); status=$?
  expect_eq "$status" 2 "status with --db $db"
  expect_eq "$(starts refused)" 0 "decoder starts with --db $db"
  [ -e refused.tsv ] && fail "a report was begun with --db $db"
  expect_eq "$(sha256sum < $db)" "$sum" "--db $db left as it was"
  case $db in
    damaged.db) want="tempo-scan: --db damaged.db: the index is damaged (left as it is; move it away to start anew)" ;;
    *) want="tempo-scan: --db $db: not a tempo-scan index (left as it is)" ;;
  esac
  expect_eq "$(cat err.txt)" "$want" "message for --db $db"
done

# A disk full under the index: named, status 1, the report still whole,
# the index still whole.
with_fault() { ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" LD_PRELOAD="$shim" TEMPO_FAULT="$1" "${@:2}"; }
touch lib/a.m4a
out=$(STARTS=/dev/null with_fault full=-wal "$scan" --no-progress --db index.db lib 2> err.txt); status=$?
expect_eq "$status" 1 "status when the index cannot be written"
expect_eq "$out" "$(cat full.tsv)" "report when the index cannot be written"
expect_eq "$(cat err.txt)" "tempo-scan: cannot write the index index.db: no space left on device" \
  "message when the index cannot be written"
expect_eq "$(sqlite3 index.db 'PRAGMA integrity_check')" ok "integrity after a full disk"

# A power cut loses no committed row: each batch's commit has its log
# synced to the disk before the run goes on (beside the log's header,
# which SQLite syncs once however it is set). A reader sees commits as the
# count of rows grows; the run, killed outright after three, synced at
# least once more than that.
: > synced.txt
: > synced.starts
STARTS=$work/synced.starts DECODE_DELAY=0.3 with_fault "synced=$work/synced.txt" "$scan" --no-progress -j 1 \
  --db synced.db kill > /dev/null &
pid=$!
seen=() last=0
for _ in $(seq 600); do
  done_rows=$(rows synced.db 2> /dev/null)
  if [ "${done_rows:-0}" -gt "$last" ]; then seen+=("$done_rows") last=$done_rows; fi
  [ ${#seen[@]} -ge 3 ] && break
  sleep 0.05
done
kill -KILL $pid
wait $pid 2> /dev/null
end_decoders synced.starts
[ ${#seen[@]} -ge 3 ] || fail "commits seen before the kill: ${seen[*]}"
synced=$(grep -c -- '/synced.db-wal$' synced.txt)
[ "$synced" -gt ${#seen[@]} ] || fail "commits seen (rows ${seen[*]}) against syncs of the log: $synced"

# Shards keep an index each; combined with ATTACH (as the README shows),
# they make one that a run over the whole library takes as it is.
for i in 0 1 2; do counted shard --db shard-$i.db --shard $i/3 lib > /dev/null; done
cp shard-0.db all.db
for i in 1 2; do sqlite3 all.db "ATTACH 'shard-$i.db' AS shard; INSERT OR REPLACE INTO files SELECT * FROM shard.files"; done
counted combined --db all.db lib > combined.tsv
expect_eq "$(starts combined)" 0 "decoder starts over combined shards"
cmp -s combined.tsv full.tsv || fail "report over combined shards: $(diff full.tsv combined.tsv)"

# Tags known to hold the tempo are not opened, let alone decoded, again.
if [ "$tags" == tags ]; then
  cp -a lib tagged && rm tagged/empty.m4a
  counted tags1 --db tags.db --write-tags tagged > tags1.tsv
  expect_eq "$(grep -c $'\twritten\t' tags1.tsv)" 8 "files written by the first tag run: $(cat tags1.tsv)"
  "$scan" --no-progress --write-tags tagged > tags-full.tsv
  stamps=$(stat -c '%i %Y' tagged/* tagged/sub/*)
  counted tags2 --db tags.db --write-tags tagged > tags2.tsv
  expect_eq "$(starts tags2)" 0 "decoder starts of a second tag run"
  cmp -s tags2.tsv tags-full.tsv || fail "second tag run: $(diff tags-full.tsv tags2.tsv)"
  expect_eq "$(stat -c '%i %Y' tagged/* tagged/sub/*)" "$stamps" "files after a second tag run"
  # Another range wants other tempos: those files are looked at again.
  counted tags3 --db tags.db --write-tags --range 100-200 tagged > tags3.tsv
  "$scan" --no-progress --write-tags --range 100-200 tagged > tags-range.tsv
  cmp -s tags3.tsv tags-range.tsv || fail "tag run with a range: $(diff tags-range.tsv tags3.tsv)"
  [ "$(starts tags3)" -ge 1 ] || fail "a tag run with another range opened nothing again"
fi

# The collection: hidden names, --hidden, --exclude, --extensions, a file
# reached twice, tracker modules and a chip-music log.
mkdir -p col/.Trash col/live col/x
python3 "$here/../support/make_music_files.py" col || fail "could not make the modules"
cp lib/a.m4a col/._a.flac && cp lib/a.m4a col/.Trash/t.flac && cp lib/b.aiff col/live/l.mp3 && cp lib/c.m4a col/x/c.ogg
ln -s ../live/l.mp3 col/x/link.mp3
export STARTS=/dev/null
names() { "$scan" --no-progress --method classic "$@" | cut -f3 | tr '\n' ' '; }
expect_eq "$(names col)" "col/beat.mod col/beat.vgm col/beat.xm col/live/l.mp3 col/x/c.ogg " "default collection"
expect_eq "$(names --hidden col)" \
  "col/.Trash/t.flac col/._a.flac col/beat.mod col/beat.vgm col/beat.xm col/live/l.mp3 col/x/c.ogg " "--hidden"
expect_eq "$(names --hidden --exclude .Trash --exclude 'x/**' col)" \
  "col/._a.flac col/beat.mod col/beat.vgm col/beat.xm col/live/l.mp3 " "--exclude"
expect_eq "$(names --extensions ogg,.XM col)" "col/beat.xm col/x/c.ogg " "--extensions"
expect_eq "$(names col/x/c.ogg col ./col/x/c.ogg)" \
  "./col/x/c.ogg col/beat.mod col/beat.vgm col/beat.xm col/live/l.mp3 " "a file named twice"
expect_eq "$("$scan" --no-progress col/beat.mod col/beat.xm col/beat.vgm)" \
  $'125\tok\tcol/beat.mod\n120\tok\tcol/beat.vgm\n125\tok\tcol/beat.xm' "tracker modules and a chip-music log"

# A name with a byte that is not UTF-8: CSV and TSV read as strict UTF-8 by
# Python's csv module, the byte as \xFF, and back to the name.
mkdir -p odd && cp lib/w.wav "odd/caf"$'\xc3\xa9'" "$'\xff'".wav"
"$scan" --no-progress --format csv -o odd.csv odd && "$scan" --no-progress -o odd.tsv odd
python3 - odd.csv odd.tsv <<'PY' || fail "CSV and TSV with a byte that is not UTF-8"
import csv, sys
for name, dialect in ((sys.argv[1], "excel"), (sys.argv[2], "excel-tab")):
    with open(name, encoding="utf-8", errors="strict", newline="") as f:
        rows = list(csv.reader(f, dialect=dialect))
    path = rows[-1][-1]
    assert path == "odd/caf\u00e9 \\xFF.wav", (name, path)
    raw = path.encode("utf-8").replace(b"\\xFF", b"\xff")
    assert raw == b"odd/caf\xc3\xa9 \xff.wav", raw
PY

# The README's path_bytes gives every name back from TSV and CSV: a tab, a
# newline, a carriage return, a backslash (also before a letter that would
# make an escape), a byte that is not UTF-8.
mkdir -p names
for name in $'t\tab' $'new\nline' $'c\rr' 'back\slash' 'back\tno' 'x\x41' $'\xff\xfe' $'caf\xc3\xa9'; do
  cp lib/w.wav "names/$name.wav"
done
"$scan" --no-progress --format csv -o names.csv names && "$scan" --no-progress -o names.tsv names
python3 - "$here/../../README.md" names.csv names.tsv <<'PY' || fail "the README's path_bytes on TSV and CSV"
import csv, os, re, sys, textwrap
readme = open(sys.argv[1], encoding="utf-8").read()
blocks = [textwrap.dedent(code) for _, code in re.findall(r"^( *)```python\n(.*?)^\1```", readme, re.M | re.S)]
functions = {}
exec(next(code for code in blocks if "def path_bytes" in code), functions)
path_bytes = functions["path_bytes"]
names = sorted(b"names/" + name for name in os.listdir(b"names"))
assert len(names) == 8, names
with open(sys.argv[2], encoding="utf-8", newline="") as f:
    from_csv = sorted(path_bytes(row[-1]) for row in list(csv.reader(f))[1:])
with open(sys.argv[3], encoding="utf-8", newline="") as f:
    from_tsv = sorted(path_bytes(line.rstrip("\n").split("\t")[-1]) for line in f)
assert from_csv == names, (from_csv, names)
assert from_tsv == names, (from_tsv, names)
PY

# The README's queries run on an index; "worth a listen" lists tempos of
# low confidence, not the files where no tempo was found.
mkdir -p quiet && "$beatgen" 100 44100 10 quiet/beat.wav > /dev/null
python3 -c 'import sys, struct; d = bytes(441000); sys.stdout.buffer.write(b"RIFF" + struct.pack("<I", 36 + len(d)) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16) + b"data" + struct.pack("<I", len(d)) + d)' > quiet/silence.wav
counted quiet --db quiet.db quiet > quiet.tsv
expect_eq "$(cut -f2 quiet.tsv | tr '\n' ' ')" "ok no tempo " "the quiet library"
# A doubtful tempo, as a real library has some: the beat's row, less sure.
sqlite3 quiet.db "UPDATE files SET confidence = 0.25 WHERE status = 'ok'"
grep -E '^sqlite3 ~/Music/\.tempo\.db ' "$here/../../README.md" > queries.txt
expect_eq "$(wc -l < queries.txt)" 4 "the README's queries"
while read -r query; do
  eval "${query/\~\/Music\/.tempo.db/quiet.db}" > /dev/null || fail "the README's query failed: $query"
done < queries.txt
listen=$(grep -A1 -F "# low confidence: worth a listen" "$here/../../README.md" | tail -n 1)
expect_eq "$(eval "${listen/\~\/Music\/.tempo.db/quiet.db}")" "$(key quiet/beat.wav)|100|0.25" \
  "the README's files worth a listen"

# A 28-column terminal: the progress line is cut to 27 columns, so it
# never wraps and leaves no line behind.
script -qfec "stty cols 28 rows 24; DECODE_DELAY=0.3 STARTS=/dev/null $scan --progress -j 1 lib > /dev/null" \
  terminal.txt > /dev/null
python3 - terminal.txt <<'PY' || fail "a progress line wider than 27 columns: $(cat -v terminal.txt)"
import re, sys
text = open(sys.argv[1], "rb").read().decode()
lines = [piece.replace("\x1b[K", "") for piece in re.split(r"[\r\n]", text)]
drawn = [line for line in lines if re.match(r"\d+/\d+ files", line)]
assert len(drawn) >= 3, drawn
assert all(len(line) <= 27 for line in drawn), [line for line in drawn if len(line) > 27]
assert any(len(line) == 27 for line in drawn), drawn
PY

finish
