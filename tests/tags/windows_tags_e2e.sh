#!/usr/bin/env bash
# tempo-scan.exe --write-tags under wine, judged on the Linux side by
# readers that share no code with it (mutagen through tag_matrix.py,
# ffmpeg): on the richly tagged files of the tag-fidelity matrix in every
# format it writes with no ffmpeg.exe (ID3v2.3 and 2.4 MP3, FLAC, Ogg
# Vorbis, Opus, WAVE) the tempo reads back, every other item and the
# audio are as before, and no copy is left; a dry run first names, file by
# file, what the real run then does, refusals included (the read-only
# attribute, several hard links; M4A and AIFF, which only ffmpeg.exe
# decodes, are not analysed, let alone written, without it), and changes
# nothing. A file another program holds open for writing is refused and
# left byte for byte, and so are one a link leading out of the scanned
# folder names and one in a folder without write bits; an overwrite puts
# the new tempo in; a copy a killed run left is removed by the next run,
# and a user's file under its name is not.
# Usage: windows_tags_e2e.sh WINE HOST_BUILD TEMPO_SCAN_EXE HOLD_OPEN_EXE PYTHON WORK_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_helpers.sh" || exit 1
source "$(dirname "${BASH_SOURCE[0]}")/../support/tag_matrix.sh" || exit 1
wine=$1 host=$2 scan_exe=$3 hold_open=$4 python=$5 work=$6
export WINEDEBUG=-all
rm -rf "$work" && mkdir -p "$work/held" || exit 1
cd "$work" || exit 1
# No ffmpeg.exe: what is checked is decoded in the process or compared.
windows() { TEMPO_FFMPEG=$work/no-ffmpeg/ffmpeg.exe "$wine" "$scan_exe" --no-progress "$@"; }
# The outcome and the file of each record, the path as Linux writes it.
outcomes() { cut -f3,4 | tr '\\' '/' | sort; }
whole_md5() { (cd "$1" && md5sum -- * | sort); }

make_tag_matrix "$host/beatgen" lib || exit 1
files="v23.mp3 v24.mp3 rich.flac rich.ogg rich.opus rich.wav"
cp lib/rich.flac lib/read-only.flac && chmod 444 lib/read-only.flac
cp lib/rich.ogg lib/linked.ogg && ln lib/linked.ogg second-name.ogg
cp lib/rich.flac held/held.flac
declare -A before md5
for f in $files; do
  before[$f]=$(items "lib/$f")
  md5[$f]=$(audio_md5 "lib/$f")
  [ "$(wc -l <<< "${before[$f]}")" -ge 10 ] || fail "lib/$f holds too few items to test: ${before[$f]}"
done
untouched=$(whole_md5 lib)

# The dry run: nothing changes, and it says what the real run does.
windows --write-tags --dry-run lib > dry.out
expect_eq "$(whole_md5 lib)" "$untouched" "files after the dry run"
expect_eq "$(outcomes < dry.out | cut -f1 | sort | uniq -c | sed 's/^ *//')" "$(printf '%s\n' "2 " \
  "1 error: file has several hard links" "1 error: file is read-only" "6 would write")" "outcomes of the dry run"
for f in rich.m4a rich.aiff; do
  expect_eq "$(grep -F "lib\\$f" dry.out | cut -f2)" "error: $work/no-ffmpeg/ffmpeg.exe not found" "the record of $f"
done

windows --write-tags lib > written.out
expect_eq "$(outcomes < written.out)" "$(outcomes < dry.out | sed 's/^would write/written/')" "the real run against the dry run"
for f in $files; do
  after=$(items "lib/$f")
  [ "$after" == "${before[$f]}" ] || fail "items of $f changed: $(diff <(echo "${before[$f]}") <(echo "$after") | head -5)"
  expect_eq "$(tempo_of "lib/$f")" 128 "tempo of $f"
  expect_eq "$(audio_md5 "lib/$f")" "${md5[$f]}" "audio of $f"
done
for f in read-only.flac linked.ogg rich.m4a rich.aiff; do
  expect_eq "$(grep " $f\$" <<< "$(whole_md5 lib)")" "$(grep " $f\$" <<< "$untouched")" "$f, refused"
done
[ -z "$(find lib -name '.*tempo-*')" ] || fail "a copy was left behind: $(find lib -name '.*tempo-*')"

# Overwritten: the tempo that is there now takes the new value.
windows --write-tags --overwrite-tags --range 50-100 lib > overwritten.out
expect_eq "$(cut -f3 overwritten.out | grep -c '^written$')" 6 "files overwritten: $(cat overwritten.out)"
for f in $files; do expect_eq "$(tempo_of "lib/$f")" 64 "overwritten tempo of $f"; done

# A link leading out of the scanned folder (wine shows a Linux link as
# Windows does a symbolic link): refused, the file it names untouched.
mkdir -p outside linking && cp lib/rich.flac outside/target.flac && ln -s ../outside/target.flac linking/link.flac
target=$(md5sum < outside/target.flac)
windows --write-tags linking > linking.out
expect_eq "$(cut -f3 linking.out)" "error: link leads outside the scanned paths" "the link leading out"
expect_eq "$(md5sum < outside/target.flac)" "$target" "the file a link leading out names"
[ -L linking/link.flac ] || fail "the link leading out is no longer a link"

# A folder without write bits, which wine shows with the read-only
# attribute: its file is refused, as root too.
mkdir -p read-only-folder && cp src.wav read-only-folder/song.wav && chmod 555 read-only-folder
windows --write-tags read-only-folder > read-only-folder.out
chmod 755 read-only-folder
expect_eq "$(cut -f3 read-only-folder.out)" "error: file is read-only" "the file in a read-only folder"
cmp -s src.wav read-only-folder/song.wav || fail "the file in a read-only folder changed"

# Held open for writing by another program: refused, left byte for byte.
held=$(md5sum < held/held.flac)
TEMPO_FFMPEG=$work/no-ffmpeg/ffmpeg.exe "$wine" "$hold_open" held/held.flac "$scan_exe" --no-progress --write-tags held \
  > held.out
expect_eq "$(md5sum < held/held.flac)" "$held" "the file held open"
grep -q $'\terror: in use by another program' held.out || fail "the file held open was not refused as in use: $(cat held.out)"
[ -z "$(find held -name '.*tempo-*')" ] || fail "a copy was left beside the held file"

# A run killed while it writes its copy leaves that copy; the next run
# removes it, named and marked, but not a user's file under the very same
# name (a copy of it: another file, without the mark).
mkdir -p killed && "$host/beatgen" 120 44100 300 killed/long.wav > /dev/null
original=$(md5sum < killed/long.wav)
TEMPO_FFMPEG=$work/no-ffmpeg/ffmpeg.exe "$wine" "$scan_exe" --no-progress --write-tags killed > /dev/null 2>&1 &
pid=$!
left=""
for _ in $(seq 1 1200); do
  left=$(find killed -name '.long.wav.tempo-*')
  [ -n "$left" ] && break
  sleep 0.05
done
kill -KILL "$pid"
wait "$pid"
[ -n "$left" ] || fail "no copy was seen while the run wrote"
expect_eq "$(md5sum < killed/long.wav)" "$original" "the file of the killed run"
cp "$left" users-file
windows --write-tags killed > killed.out 2> killed.err
expect_eq "$(cut -f3 killed.out)" "written" "the run after the kill"
tr -d '\r' < killed.err | grep -qFx "tempo-scan: removed a copy left by an interrupted run: ${left//\//\\}" ||
  fail "the left copy was not reported removed: $(cat killed.err)"
[ -e "$left" ] && fail "the left copy is still there"
cp users-file "$left"
windows --write-tags --overwrite-tags --range 50-100 killed > /dev/null 2> killed.err
cmp -s users-file "$left" || fail "a user's file named as the copy was removed or changed"
grep -q removed killed.err && fail "a user's file was reported removed: $(cat killed.err)"
finish
