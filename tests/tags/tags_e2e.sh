#!/usr/bin/env bash
# tempo-scan --write-tags end to end, in every format it tags: the tempo
# lands in the format's own field, the audio stream is bit-identical
# (ffmpeg's MD5 of the copied stream), other tags and cover art survive as
# ffprobe reads them, nothing is written twice, a different tempo is kept
# unless overwriting, a dry run touches nothing, and a file that changed
# since its analysis, cannot be saved, is RF64, has several hard links, is
# reached through a link out of the scanned paths or lies on a full disk
# stays byte-identical.
# Usage: tags_e2e.sh TEMPO TEMPO_SCAN BEATGEN WORK_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_helpers.sh" || exit 1
tempo=$1 scan=$2 beatgen=$3 work=$4
rm -rf "$work" && mkdir -p "$work/lib" "$work/bin" || exit 1
cd "$work" || exit 1
audio_md5() { ffmpeg -nostdin -loglevel error -i "$1" -map 0:a -c copy -f md5 -; }
# Title, artist, BPM and attached pictures as ffprobe sees them, one
# "key=value" a line, sorted.
probe() {
  ffprobe -v error -show_entries format_tags:stream_tags:stream_disposition=attached_pic -of default=nw=1 "$1" |
    grep -iE '^(tag:(title|artist|tbpm|bpm)|disposition:attached_pic)=' | sed -E 's/^[^:]*://' |
    awk -F= '{ k = tolower($1); if (k == "tbpm") k = "bpm"; sub(/^[^=]*=/, ""); print k "=" $0 }' | LC_ALL=C sort
}
mtime() { stat -c %Y.%y "$1"; }
scan_one() { "$scan" --no-progress "$@"; }

"$beatgen" 128 44100 20 src.wav || exit 1
ff -f lavfi -i "color=c=red:s=64x64" -frames:v 1 cover.png || exit 1
meta=(-metadata title="A Title" -metadata artist="An Artist")
cover=(-i cover.png -map 0:a -map 1:v -c:v copy -disposition:v attached_pic)
ff -i src.wav "${cover[@]}" -c:a libmp3lame -id3v2_version 3 "${meta[@]}" lib/a.mp3
ff -i src.wav "${cover[@]}" -c:a flac "${meta[@]}" lib/b.flac
ff -i src.wav -c:a libvorbis "${meta[@]}" lib/c.ogg
ff -i src.wav -c:a libopus "${meta[@]}" lib/d.opus
ff -i src.wav "${cover[@]}" -c:a aac "${meta[@]}" lib/e.m4a
ff -i src.wav -c:a pcm_s16be "${meta[@]}" lib/f.aiff
cp src.wav lib/g.wav
for f in lib/*; do [ -s "$f" ] || fail "could not make $f"; done
tempo_before=$("$tempo" lib/g.wav)

declare -A md5 probed
for f in lib/*; do md5[$f]=$(audio_md5 "$f"); probed[$f]=$(probe "$f"); done
cp -a lib dry

# A dry run decides and touches nothing.
out=$(scan_one --write-tags --dry-run lib)
expect_eq "$(cut -f3 <<< "$out" | sort -u)" "would write" "dry run outcomes"
for f in lib/*; do cmp -s "$f" "dry/${f#lib/}" || fail "dry run changed $f"; done

# Written once, in place.
out=$(scan_one --write-tags lib); status=$?
expect_eq "$status" 0 "exit status after writing"
expect_eq "$(cut -f1,2,3 <<< "$out" | sort -u)" $'128\tok\twritten' "outcomes of the first write"
for f in lib/*; do
  expect_eq "$(audio_md5 "$f")" "${md5[$f]}" "audio of $f"
  after=$(probe "$f")
  case $f in
    *.m4a) expect_eq "$after" "${probed[$f]}" "tags of $f" ;;  # ffprobe does not show tmpo
    *) expect_eq "$after" "$(printf '%s\nbpm=128\n' "${probed[$f]}" | grep -v '^$' | LC_ALL=C sort)" "tags of $f" ;;
  esac
done
for f in lib/a.mp3 lib/b.flac lib/e.m4a; do grep -q '^attached_pic=1$' <<< "${probed[$f]}" || fail "no cover in $f"; done
for f in lib/a.mp3 lib/b.flac lib/c.ogg lib/e.m4a; do
  grep -q '^title=A Title$' <<< "${probed[$f]}" && grep -q '^artist=An Artist$' <<< "${probed[$f]}" ||
    fail "no title and artist in $f to keep"
done
expect_eq "$("$tempo" lib/g.wav)" "$tempo_before" "tempo on the tagged WAVE"

# Nothing is written twice: the file and its modification time stay.
cp -a lib again
out=$(scan_one --write-tags --format jsonl lib)
expect_eq "$(grep -c '"tag": "unchanged"' <<< "$out")" 7 "second run: unchanged"
for f in lib/*; do cmp -s "$f" "again/${f#lib/}" && [ "$(mtime "$f")" == "$(mtime "again/${f#lib/}")" ] ||
  fail "second run touched $f"; done

# A different tempo set by hand is kept unless overwriting.
ff -i src.wav -c:a flac -metadata BPM=99 lib/h.flac
cp lib/h.flac kept.flac
expect_eq "$(scan_one --write-tags lib/h.flac)" $'128\tok\tkept 99\tlib/h.flac' "a hand-set tempo"
cmp -s lib/h.flac kept.flac || fail "a kept tempo changed the file"
expect_eq "$(scan_one --write-tags --overwrite-tags --dry-run lib/h.flac)" $'128\tok\twould write\tlib/h.flac' "overwrite, dry"
expect_eq "$(scan_one --write-tags --overwrite-tags lib/h.flac)" $'128\tok\twritten\tlib/h.flac' "overwrite"
expect_eq "$(scan_one --write-tags lib/h.flac)" $'128\tok\tunchanged\tlib/h.flac' "after overwriting"

# No tag is considered for "no tempo" or an error (a WAVE of its header
# alone holds no audio); CSV gains the column.
head -c 44 src.wav > lib/short.wav
ff -f lavfi -i anullsrc=r=44100:cl=stereo -t 1 -fflags +bitexact -c:a pcm_s16le lib/quiet.wav
out=$(scan_one --write-tags --format csv lib/short.wav lib/missing.mp3 lib/quiet.wav)
expect_eq "$out" $'bpm,status,tag,path\r\n,error: no such file or directory,,lib/missing.mp3\r\n,no tempo,,lib/quiet.wav\r
,error: no audio,,lib/short.wav\r' "CSV without tags"
expect_eq "$(scan_one --write-tags --format jsonl lib/quiet.wav)" '{"path": "lib/quiet.wav", "bpm": null, "status": "no tempo", "confidence": 0.00, "method": "accurate", "tag": null, "duration": 1.000, "sample_rate": 44100, "channels": 2, "codec": "pcm_s16le"}' "JSON tag null"
expect_eq "$(scan_one --write-tags --format jsonl lib/short.wav)" '{"path": "lib/short.wav", "bpm": null, "status": "error: no audio", "confidence": null, "method": "accurate", "tag": null, "duration": null, "sample_rate": null, "channels": null, "codec": null}' "JSON tag null for an error"

# Two paths to one file: it is one file, with one record under the first
# path, and it is written once.
ff -i src.wav -c:a flac lib/l.flac && ln -s l.flac lib/m.flac
out=$(scan_one --write-tags -j 2 lib/m.flac lib/l.flac); status=$?
expect_eq "$(cut -f3,4 <<< "$out" | tr '\n' ' ')" $'written\tlib/l.flac ' "a file reached by two paths"
expect_eq "$status" 0 "exit status for a file reached by two paths"

# A file that changes between its analysis and the write is left alone:
# this decoder touches the file once it has decoded it (an M4A, which
# only the ffmpeg child decodes).
cat > bin/ffmpeg-then-touch <<'SCRIPT'
#!/bin/sh
ffmpeg "$@"; status=$?
for arg in "$@"; do case $arg in file:*) touch -d '2001-02-03 04:05:06' "${arg#file:}" ;; esac; done
exit $status
SCRIPT
chmod +x bin/ffmpeg-then-touch
ff -i src.wav -c:a aac lib/i.m4a && cp lib/i.m4a changed.m4a
out=$(TEMPO_FFMPEG=bin/ffmpeg-then-touch scan_one --write-tags lib/i.m4a); status=$?
expect_eq "$out" $'128\tok\terror: changed during scan\tlib/i.m4a' "changed during the scan"
expect_eq "$status" 1 "exit status after a tag error"
cmp -s lib/i.m4a changed.m4a || fail "a changed file was written"

# A file that cannot be saved stays byte-identical: a format TagLib does
# not tag, and a file the system will not let anyone write.
ff -i src.wav -c:a libvorbis lib/j.mka && cp lib/j.mka j.mka
expect_eq "$(scan_one --write-tags lib/j.mka)" $'128\tok\tnot taggable\tlib/j.mka' "Matroska"
cmp -s lib/j.mka j.mka || fail "the Matroska file changed"
ff -i src.wav -c:a flac lib/k.flac && cp lib/k.flac locked.flac
if chattr +i lib/k.flac 2> /dev/null; then
  expect_eq "$(scan_one --write-tags lib/k.flac)" $'128\tok\terror: file cannot be written\tlib/k.flac' "immutable file"
  chattr -i lib/k.flac
  cmp -s lib/k.flac locked.flac || fail "the immutable file changed"
else
  fail "cannot make a file unwritable here (chattr +i)"
fi

# A written file keeps its mode and owner; the audio is unchanged.
ff -i src.wav -c:a flac lib/n.flac && chmod 640 lib/n.flac && chown 65534:65534 lib/n.flac
before_md5=$(audio_md5 lib/n.flac)
expect_eq "$(scan_one --write-tags lib/n.flac)" $'128\tok\twritten\tlib/n.flac' "a file with its own mode and owner"
expect_eq "$(stat -c '%a %u %g' lib/n.flac)" "640 65534 65534" "mode and owner after writing"
expect_eq "$(audio_md5 lib/n.flac)" "$before_md5" "audio after writing through a copy"
[ -z "$(find lib -name '.*tempo-*')" ] || fail "a copy was left behind: $(find lib -name '.*tempo-*')"

# A tempo of 0 or an empty one is no tempo: it is written over.
ff -i src.wav -c:a flac -metadata BPM=0 lib/zero.flac && ff -i src.wav -c:a flac -metadata BPM=" " lib/blank.flac
out=$(scan_one --write-tags lib/zero.flac lib/blank.flac)
expect_eq "$out" $'128\tok\twritten\tlib/blank.flac\n128\tok\twritten\tlib/zero.flac' "a tempo of 0 or blank"

# With no ffmpeg at all, the formats decoded in the process are still
# tagged, each copy checked by decoding it as its file was; the M4A, which
# only ffmpeg decodes, gets the decoder-missing error and stays as it was.
mkdir -p alone && cp -a dry/a.mp3 dry/b.flac dry/c.ogg dry/d.opus dry/e.m4a alone/ && cp -a alone alone-before
out=$(TEMPO_FFMPEG=/nonexistent/ffmpeg scan_one --write-tags alone); status=$?
expect_eq "$out" $'128\tok\twritten\talone/a.mp3\n128\tok\twritten\talone/b.flac\n128\tok\twritten\talone/c.ogg
128\tok\twritten\talone/d.opus\n\terror: /nonexistent/ffmpeg not found\t\talone/e.m4a' "tags written without ffmpeg"
expect_eq "$status" 1 "exit status of tags written without ffmpeg"
for f in a.mp3 b.flac c.ogg d.opus; do
  expect_eq "$(audio_md5 "alone/$f")" "$(audio_md5 "alone-before/$f")" "audio of $f tagged without ffmpeg"
  expect_eq "$(probe "alone/$f" | grep '^bpm=')" "bpm=128" "tempo tag of $f written without ffmpeg"
done
cmp -s alone/e.m4a alone-before/e.m4a || fail "the M4A changed without a decoder"

# A link that leads outside the paths scanned is not written through.
mkdir -p outside copied && ff -i src.wav -c:a flac outside/o.flac && cp outside/o.flac o-before.flac &&
  ln -s "$PWD/outside/o.flac" copied/o.flac
expect_eq "$(scan_one --write-tags copied)" $'128\tok\terror: link leads outside the scanned paths\tcopied/o.flac' \
  "a link out of the scanned paths"
cmp -s outside/o.flac o-before.flac || fail "a file outside the scanned paths was written"

# A file with several names is refused, not parted from them.
ff -i src.wav -c:a flac lib/p.flac && ln lib/p.flac p-link.flac && cp lib/p.flac p-before.flac
expect_eq "$(scan_one --write-tags lib/p.flac)" $'128\tok\terror: file has several hard links\tlib/p.flac' "hard links"
cmp -s lib/p.flac p-before.flac && [ lib/p.flac -ef p-link.flac ] || fail "a hard-linked file changed"

# RF64 is refused and stays as it was.
ff -i src.wav -rf64 always lib/r.wav && cp lib/r.wav r-before.wav
expect_eq "$(scan_one --write-tags lib/r.wav)" $'128\tok\tnot taggable\tlib/r.wav' "RF64"
cmp -s lib/r.wav r-before.wav || fail "the RF64 file changed"

# A full disk: every format reports an error and stays byte-identical.
mkdir -p full
if mount -t tmpfs -o size=16m tempo-e2e-full full 2> /dev/null; then
  ff -i src.wav -t 12 -c:a libmp3lame full/a.mp3 && ff -i src.wav -t 12 -c:a flac full/b.flac &&
    ff -i src.wav -t 12 -c:a libvorbis full/c.ogg && ff -i src.wav -t 12 -c:a aac full/e.m4a &&
    ff -i src.wav -t 12 full/g.wav || fail "could not make the full-disk files"
  mkdir -p full-before && cp full/* full-before/
  dd if=/dev/zero of=full/filler bs=4k 2> /dev/null
  out=$(scan_one --write-tags full/a.mp3 full/b.flac full/c.ogg full/e.m4a full/g.wav); status=$?
  expect_eq "$(cut -f3 <<< "$out" | sort -u)" "error: no space left on device" "outcomes on a full disk"
  expect_eq "$status" 1 "exit status on a full disk"
  for f in a.mp3 b.flac c.ogg e.m4a g.wav; do cmp -s "full/$f" "full-before/$f" || fail "full disk: $f changed"; done
  [ -z "$(find full -name '.*tempo-*')" ] || fail "a copy was left on the full disk"
  umount full
else
  fail "cannot mount a small tmpfs here (run as root)"
fi

finish
