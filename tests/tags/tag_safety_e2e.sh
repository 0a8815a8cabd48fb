#!/usr/bin/env bash
# What a tag-writing run must never do to a user's files, each on its own:
# lose a change another program makes between the copy and its rename
# (that writer injected by the fault shim), remove a user's file named like
# a left copy, give a file the ACL of its folder, write a file whose mode
# says read-only (as root too), write a report over audio or over a file it
# reads, fail a file for its damaged cover; and the run's words: the help,
# a damaged file refused up front alike in the dry run and the real run,
# formats that take no tag ("not taggable", status 0), --min-confidence.
# Usage: tag_safety_e2e.sh TEMPO_SCAN BEATGEN FAULT_SHIM PYTHON WORK_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_helpers.sh" || exit 1
scan=$1 beatgen=$2 shim=$3 python=$4 work=$5
support="$(cd "$(dirname "${BASH_SOURCE[0]}")/../support" && pwd)"
rm -rf "$work" && mkdir -p "$work/src" || exit 1
cd "$work" || exit 1
scan_one() { "$scan" --no-progress "$@"; }
with_fault() { ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" LD_PRELOAD="$shim" TEMPO_FAULT="$1" "${@:2}"; }
audio_md5() { ffmpeg -nostdin -loglevel fatal -i "$1" -map 0:a -c copy -f md5 -; }
copies_in() { find "$1" -name '.*.tempo-*'; }

"$beatgen" 128 44100 10 src.wav > /dev/null || exit 1
ff -i src.wav -c:a libmp3lame src/a.mp3 && ff -i src.wav -c:a flac src/b.flac || exit 1
fresh() { rm -rf "$1" && mkdir -p "$1" && cp src/a.mp3 src/b.flac "$1"/; }

# Another program writes the original after it was copied (the last byte
# of its ID3v1 tag, which changes no audio packet): its write stands, and
# the record says so.
mkdir -p injected && ff -i src.wav -c:a libmp3lame -write_id3v1 1 -metadata title=Title injected/a.mp3 &&
  cp injected/a.mp3 a-before.mp3
out=$(with_fault "touch=$PWD/injected/a.mp3" "$scan" --no-progress --write-tags injected/a.mp3); status=$?
expect_eq "$out" $'128\tok\terror: changed during scan\tinjected/a.mp3' "a writer between the copy and the rename"
expect_eq "$status" 1 "status after a change between the copy and the rename"
cp a-before.mp3 a-written.mp3 && printf x | dd of=a-written.mp3 bs=1 seek=$(( $(stat -c %s a-before.mp3) - 1 )) conv=notrunc 2> /dev/null
cmp -s injected/a.mp3 a-written.mp3 || fail "the other writer's change was lost"
[ -z "$(copies_in injected)" ] || fail "a copy was left: $(copies_in injected)"

# A user's own files named like a copy stay, byte for byte, and no run
# says it removed them.
fresh lookalike
for name in .setlist.tempo-200bpm .mix.tempo-final1 .a.mp3.tempo-abc123; do
  head -c 3000 src.wav > "lookalike/$name" && cp "lookalike/$name" "$name.before"
done
out=$(scan_one --write-tags lookalike 2> err.txt); status=$?
expect_eq "$status" 0 "status beside files named like copies"
expect_eq "$(cat err.txt)" "" "words beside files named like copies"
for name in .setlist.tempo-200bpm .mix.tempo-final1 .a.mp3.tempo-abc123; do
  cmp -s "lookalike/$name" "$name.before" || fail "a user's file named like a copy changed or went: $name"
done

# A folder with a default ACL: the written file keeps the ACL it had
# (none), and a file with its own ACL keeps that one.
fresh acl && setfacl -d -m u:65534:rwx acl && setfacl -m u:65534:r acl/b.flac || fail "cannot set ACLs here"
acl_before=$(getfacl -c acl/a.mp3 acl/b.flac 2> /dev/null)
out=$(scan_one --write-tags acl)
expect_eq "$(cut -f3 <<< "$out" | sort -u)" "written" "outcomes in a folder with a default ACL"
expect_eq "$(getfacl -c acl/a.mp3 acl/b.flac 2> /dev/null)" "$acl_before" "ACLs after the write"

# Read-only by the mode bits, for root too: a file of mode 444, and files
# in a folder of mode 555, in the dry run and the real run alike.
fresh readonly && chmod 444 readonly/a.mp3 && mkdir -p readonly/locked && cp src/b.flac readonly/locked/ &&
  chmod 555 readonly/locked && cp -a readonly readonly-before
for dry in --dry-run ""; do
  # shellcheck disable=SC2086
  out=$(scan_one --write-tags $dry readonly/a.mp3 readonly/locked/b.flac); status=$?
  expect_eq "$(cut -f3 <<< "$out")" $'error: file is read-only\nerror: file is read-only' "read-only files ${dry:-written}"
  expect_eq "$status" 1 "status for read-only files ${dry:-written}"
done
cmp -s readonly/a.mp3 readonly-before/a.mp3 && cmp -s readonly/locked/b.flac readonly-before/locked/b.flac ||
  fail "a read-only file changed"
chmod 755 readonly/locked

# -o never writes over audio, an index, or a file the run reads.
fresh output && cp output/a.mp3 output-a.mp3 && "$beatgen" 100 44100 5 output/c.wav > /dev/null
for args in "-o output/a.mp3 output/b.flac" "-o output/a.mp3 output" "--output=output/c.wav output/b.flac"; do
  # shellcheck disable=SC2086
  scan_one $args > /dev/null 2> err.txt; status=$?
  expect_eq "$status" 2 "status for $args"
  grep -q 'no report is written over it' err.txt || fail "no words for $args: $(cat err.txt)"
done
cmp -s output/a.mp3 output-a.mp3 || fail "-o wrote over an MP3"
scan_one --db output/index.db output/b.flac > /dev/null && cp output/index.db index-before.db
scan_one --db output/index.db -o output/index.db output/b.flac > /dev/null 2>&1; status=$?
expect_eq "$status" 2 "status for -o onto the index"
cmp -s output/index.db index-before.db || fail "-o wrote over the index"
scan_one -o output/report.tsv output/b.flac && scan_one -o output/report.tsv output/b.flac; status=$?
expect_eq "$status" 0 "status for -o onto an earlier report"
expect_eq "$(cat output/report.tsv)" $'128\tok\toutput/b.flac' "a report written over an earlier one"

# A cover that cannot be decoded: the audio is tagged, and the picture's
# bytes stay as they were.
mkdir -p cover && "$python" - src/a.mp3 cover/a.mp3 <<'PY' || fail "could not make the damaged cover"
import sys
from mutagen import id3
data = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(data)
tags = id3.ID3()
png = b"\x89PNG\r\n\x1a\n" + b"\x7f\xff\xff\xf0IHDR" + bytes(range(64))  # a chunk far longer than the file
tags.add(id3.APIC(encoding=0, mime="image/png", type=3, desc="Cover", data=png))
tags.add(id3.TIT2(encoding=3, text=["A Title"]))
tags.save(sys.argv[2])
PY
items_before=$("$python" "$support/tag_matrix.py" items cover/a.mp3)
out=$(scan_one --write-tags cover/a.mp3); status=$?
expect_eq "$out" $'128\tok\twritten\tcover/a.mp3' "an MP3 whose cover is damaged"
expect_eq "$("$python" "$support/tag_matrix.py" items cover/a.mp3)" "$items_before" "the damaged cover's bytes"
expect_eq "$(audio_md5 cover/a.mp3)" "$(audio_md5 src/a.mp3)" "audio beside a damaged cover"

# The first tagging run of the formats whose audio is compared by its
# bytes starts no decoder at all: no second decode, no stream listing.
mkdir -p counted bin && cp src/a.mp3 src/b.flac counted/ && ff -i src.wav -c:a libvorbis counted/c.ogg &&
  ff -i src.wav -c:a libopus counted/d.opus && cp src.wav counted/e.wav
printf '#!/bin/sh\necho "$@" >> "%s/ffmpeg-runs.txt"\nexec ffmpeg "$@"\n' "$PWD" > bin/counting-ffmpeg && chmod +x bin/counting-ffmpeg
out=$(TEMPO_FFMPEG=bin/counting-ffmpeg scan_one --write-tags counted)
expect_eq "$(cut -f3 <<< "$out" | sort -u)" "written" "outcomes of the counted run"
expect_eq "$(cat ffmpeg-runs.txt 2> /dev/null | wc -l)" 0 "ffmpeg runs while MP3, FLAC, Ogg, Opus and WAVE were tagged"

# The help says what a tag write changes, and never "in place".
help=$(scan_one --help)
grep -q 'in place' <<< "$help" && fail "--help still says the tags are written in place"
grep -q 'the tempo field alone changes' <<< "$help" || fail "--help does not say what a tag write changes"

# A file cut short is refused up front, in the dry run as in the real
# run, never blamed on its copy.
mkdir -p cut && for f in a.mp3 b.flac; do head -c $(( $(stat -c %s "src/$f") * 7 / 10 )) "src/$f" > "cut/$f"; done &&
  cp -a cut cut-before
for dry in --dry-run ""; do
  # shellcheck disable=SC2086
  out=$(scan_one --write-tags $dry cut); status=$?
  expect_eq "$(cut -f2,3 <<< "$out" | sort -u)" $'ok\terror: file ends early; no tag written' "files cut short ${dry:-written}"
  expect_eq "$status" 1 "status for files cut short ${dry:-written}"
done
cmp -s cut/a.mp3 cut-before/a.mp3 && cmp -s cut/b.flac cut-before/b.flac || fail "a file cut short changed"

# Formats that take no tag: said in the tag field, and no failure.
fresh modules && "$python" "$support/make_music_files.py" modules
out=$(scan_one --write-tags modules); status=$?
expect_eq "$(grep 'beat.mod$' <<< "$out" | cut -f3)" "not taggable" "a tracker module"
expect_eq "$status" 0 "status of a run whose only refusals are formats that take no tag"
expect_eq "$(scan_one --write-tags --format jsonl modules/beat.mod | grep -o '"tag": "[^"]*"')" '"tag": "not taggable"' \
  "JSON Lines for a format that takes no tag"

# --min-confidence: a tempo below it is held, one at or above it written.
fresh doubt
confidence=$(scan_one --format jsonl doubt/b.flac | grep -o '"confidence": [0-9.]*' | cut -d' ' -f2)
above=$(awk -v c="$confidence" 'BEGIN { printf "%.2f", c + 0.01 }')
below=$(awk -v c="$confidence" 'BEGIN { printf "%.2f", c - 0.01 }')
out=$(scan_one --write-tags --min-confidence "$above" doubt/b.flac); status=$?
expect_eq "$out" "128	ok	held: confidence $confidence	doubt/b.flac" "a tempo below --min-confidence"
expect_eq "$status" 0 "status for a tempo held back"
cmp -s doubt/b.flac src/b.flac || fail "a tempo held back was written"
expect_eq "$(scan_one --write-tags --min-confidence "$below" doubt/b.flac | cut -f3)" "written" "a tempo above --min-confidence"
scan_one --min-confidence 0.5 doubt > /dev/null 2>&1; status=$?
expect_eq "$status" 2 "--min-confidence without --write-tags"

finish
