#!/usr/bin/env bash
# tempo-scan end to end: generated clips encoded by ffmpeg in many formats.
# With --method classic each record must carry exactly what tempo prints
# for the file itself (a WAVE it accepts) or for the WAVE that ffmpeg
# writes from it; the accurate method must give each clip its own tempo in
# every format, and no tempo to sounds without a beat; then --range, the
# order, shards, failures of the decoder and Ctrl-C.
# Usage: scan_e2e.sh TEMPO TEMPO_SCAN BEATGEN WORK_DIR FAULT_SHIM
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_helpers.sh" || exit 1
tempo=$1 scan=$2 beatgen=$3 work=$4 shim=$5
rm -rf "$work" && mkdir -p "$work/lib/sub" "$work/ref" "$work/bin" || exit 1
cd "$work" || exit 1

"$beatgen" 100 44100 20 src100.wav && "$beatgen" 128 48000 20 src128.wav && "$beatgen" 90 22050 20 src90.wav &&
  "$beatgen" 140 44100 20 lib/0-plain.wav || exit 1
# name, source, encoder options
while read -r name source options; do
  # shellcheck disable=SC2086
  ff -i "$source" $options "lib/$name" || fail "could not encode $name"
done <<'LIST'
a.flac src100.wav -c:a flac
b.mp3 src128.wav -c:a libmp3lame -b:a 192k
c.ogg src90.wav -c:a libvorbis
d.opus src100.wav -c:a libopus
e.m4a src128.wav -c:a aac
f-24bit.wav src90.wav -c:a pcm_s24le
g-float.wav src100.wav -c:a pcm_f32le
h-mono.wav src128.wav -ac 1 -c:a pcm_s16le
sub/i-5.1.flac src90.wav -ac 6 -c:a flac
sub/k.AIFF src100.wav -c:a pcm_s16be
LIST
# A WAVE whose first chunk after WAVE is JUNK: tempo refuses it.
{ head -c 12 src128.wav; printf 'JUNK\004\000\000\000\000\000\000\000'; tail -c +13 src128.wav; } > lib/j-junk.wav
printf 'not audio' > lib/sub/l-broken.mp3
printf 'notes' > lib/readme.txt
mkfifo lib/m-fifo.wav

# What a user gets today: tempo on the file, or on ffmpeg's WAVE of it.
expected_record() {
  local file=$1 line
  line=$("$tempo" "$file")
  if [ "$?" -ne 0 ]; then
    ff -i "$file" -map 0:a:0 -acodec pcm_s16le -ac 2 ref/out.wav || { echo "decode failed"; return; }
    line=$("$tempo" ref/out.wav)
  fi
  if [ "$line" == "bpm:59" ]; then printf '\tno tempo\t%s\n' "$file"; else printf '%s\tok\t%s\n' "${line#bpm:}" "$file"; fi
}
: > expected.tsv
for file in lib/0-plain.wav lib/a.flac lib/b.mp3 lib/c.ogg lib/d.opus lib/e.m4a lib/f-24bit.wav lib/g-float.wav \
  lib/h-mono.wav lib/j-junk.wav; do expected_record "$file" >> expected.tsv; done
expected_record lib/sub/i-5.1.flac >> expected.tsv
expected_record lib/sub/k.AIFF >> expected.tsv
printf '\terror: not a regular file\tlib/m-fifo.wav\n' >> expected.tsv
grep -q 'JUNK' lib/j-junk.wav && [ "$("$tempo" lib/j-junk.wav)" == "fmt check error." ] || fail "the JUNK file is accepted by tempo"

# The records, in byte order, the same for any number of jobs.
for jobs in 1 4; do
  out=$("$scan" --method classic -j $jobs --no-progress lib 2> err.txt); status=$?
  expect_eq "$status" 1 "exit status with a broken file, -j $jobs"
  body=$(grep -v 'l-broken.mp3' <<< "$out")
  expect_eq "$body" "$(LC_ALL=C sort -t$'\t' -k3,3 expected.tsv)" "records with -j $jobs"
  grep -q $'^\terror: not readable as audio (ffmpeg: Failed to read frame size: Could not seek to 1032.)\tlib/sub/l-broken.mp3$' <<< "$out" ||
    fail "broken file not reported in the decoder's words: $out"
  expect_eq "$(cat err.txt)" "" "standard error with -j $jobs"
done
grep -q $'^140\tok\tlib/0-plain.wav$' <<< "$out" || fail "the plain clip is not 140"
[ "$(grep -c $'\tok\t' <<< "$out")" -ge 10 ] || fail "fewer than 10 tempos found: $out"

# The accurate method (the default): each clip keeps its source's tempo
# (within 1 BPM) in every format, rate and channel layout.
source_bpm() {
  case $1 in
    *a.flac|*d.opus|*g-float.wav|*k.AIFF) echo 100 ;;
    *b.mp3|*e.m4a|*h-mono.wav|*j-junk.wav) echo 128 ;;
    *c.ogg|*f-24bit.wav|*i-5.1.flac) echo 90 ;;
    *0-plain.wav) echo 140 ;;
  esac
}
out=$("$scan" -j 2 --no-progress lib 2> /dev/null)
expect_eq "$(grep -c $'\tok\t' <<< "$out")" 12 "tempos found by the accurate method: $out"
while IFS=$'\t' read -r bpm status path; do
  [ "$status" == ok ] || continue
  want=$(source_bpm "$path")
  [ -n "$want" ] && [ $((bpm - want)) -le 1 ] && [ $((want - bpm)) -le 1 ] ||
    fail "accurate tempo of $path: $bpm, not $want"
done <<< "$out"
expect_eq "$("$scan" --no-progress lib/0-plain.wav)" "$("$scan" --no-progress --method accurate lib/0-plain.wav)" \
  "accurate is the default"

# JSON Lines says what each file's audio is, as the decoder found it, and
# listing it changes no record: the same tempos as the TSV report above.
json=$("$scan" -j 2 --no-progress --format jsonl lib 2> /dev/null)
expect_eq "$(python3 -c '
import json, sys
for line in sys.stdin:
    r = json.loads(line)
    bpm = "" if r["bpm"] is None else str(r["bpm"])
    print("%s\t%s\t%s" % (bpm, r["status"], r["path"]))' <<< "$json")" "$out" "JSON Lines against TSV"
while read -r name facts; do
  got=$(python3 -c '
import json, sys
r = [json.loads(l) for l in sys.stdin if json.loads(l)["path"] == sys.argv[1]][0]
print(r["codec"], r["channels"], r["sample_rate"], "%.1f" % r["duration"])' "lib/$name" <<< "$json")
  expect_eq "$got" "$facts" "facts of $name"
done <<'LIST'
0-plain.wav pcm_s16le 2 44100 20.0
a.flac flac 2 44100 20.0
b.mp3 mp3 2 48000 20.0
c.ogg vorbis 2 22050 20.0
d.opus opus 2 48000 20.0
f-24bit.wav pcm_s24le 2 22050 20.0
g-float.wav pcm_f32le 2 44100 20.0
h-mono.wav pcm_s16le 1 48000 20.0
sub/i-5.1.flac flac 6 22050 20.0
sub/k.AIFF pcm_s16be 2 44100 20.0
LIST

# Sounds without a beat: no tempo, with the confidence that says so.
ff -f lavfi -i "sine=f=440:d=20" -ac 2 flat-sine.wav
ff -f lavfi -i "anoisesrc=d=20:c=white:a=0.5:seed=1" -ac 2 flat-white.flac
ff -f lavfi -i "anoisesrc=d=20:c=pink:a=0.5:seed=2" -ac 2 flat-pink.mp3
ff -f lavfi -i "anullsrc=r=44100:cl=stereo" -t 20 flat-silence.wav
ff -f lavfi -i "aevalsrc=0.2*sin(2*PI*261.63*t)+0.2*sin(2*PI*329.63*t)+0.2*sin(2*PI*392*t):d=20" -ac 2 flat-chord.ogg
out=$("$scan" --no-progress --format jsonl flat-*)
while read -r line; do
  [[ $line =~ \"bpm\":\ null,\ \"status\":\ \"no\ tempo\",\ \"confidence\":\ 0\.[01][0-9],\ \"method\":\ \"accurate\" ]] ||
    fail "a sound without a beat: $line"
done <<< "$out"
expect_eq "$(wc -l <<< "$out")" 5 "records of sounds without a beat"

# --range doubles or halves into [MIN, MAX], for both methods.
expect_eq "$("$scan" --no-progress --range 60-120 lib/0-plain.wav)" $'70\tok\tlib/0-plain.wav' "--range 60-120"
expect_eq "$("$scan" --no-progress --range 200-400 lib/0-plain.wav)" $'280\tok\tlib/0-plain.wav' "--range 200-400"
expect_eq "$("$scan" --no-progress --method classic --range 70-140 lib/0-plain.wav)" $'140\tok\tlib/0-plain.wav' \
  "--range 70-140, classic"

# --decimals gives the tempo to hundredths in every format (tags and the
# default stay whole); --beats gives the beats and no tempo change for a
# steady clip, in JSON Lines only.
out=$("$scan" --no-progress --decimals 2 lib/0-plain.wav)
[[ $out =~ ^(1[34][0-9]\.[0-9][0-9])$'\t'ok$'\t'lib/0-plain.wav$ ]] && awk -v t="${BASH_REMATCH[1]}" 'BEGIN { exit !(t > 139.95 && t < 140.05) }' ||
  fail "--decimals 2: $out"
expect_eq "$("$scan" --no-progress --decimals 1 --format csv --range 60-120 lib/0-plain.wav | tail -1)" $'70.0,ok,lib/0-plain.wav\r' \
  "--decimals 1 with --range, CSV"
json=$("$scan" --no-progress --format jsonl --beats lib/0-plain.wav)
[[ $json =~ \"method\":\ \"accurate\",\ \"duration\":\ 20.000,\ \"sample_rate\":\ 44100,\ \"channels\":\ 2,\ \"codec\":\ \"pcm_s16le\",\ \"beats\":\ \[([0-9., ]+)\],\ \"tempo_changes\":\ \[\],\ \"downbeats\":\ \[\],\ \"metre\":\ null\}$ ]] || fail "--beats: $json"
awk -v beats="${BASH_REMATCH[1]}" 'BEGIN { n = split(beats, b, ", "); bad = n < 40
    for (i = 2; i <= n; i++) { gap = b[i] - b[i - 1]; if (gap < 0.41 || gap > 0.45) bad = 1 }
    exit bad }' || fail "--beats: not every 60/140 s: $json"
"$scan" --no-progress --beats --format csv lib/0-plain.wav > out.txt 2> err.txt; status=$?
expect_eq "$status" 2 "exit status of --beats with CSV"
expect_eq "$(cat err.txt)" $'tempo-scan: --beats needs --format jsonl (TSV and CSV have no field for them)\nTry \'tempo-scan --help\'.' \
  "message for --beats with CSV"
expect_eq "$(cat out.txt)" "" "standard output of --beats with CSV"

# Shards split the list with no overlap; --output writes the same records.
"$scan" --no-progress -o all.tsv lib
for i in 0 1 2; do "$scan" --no-progress --shard $i/3 lib; done | LC_ALL=C sort -t$'\t' -k3,3 > shards.tsv
expect_eq "$(cat shards.tsv)" "$(cat all.tsv)" "three shards against the whole"

# The shard-merge recipe of the README restores the whole report, names
# with a tab, a backslash or a newline included.
mkdir -p shardlib
for name in $'a\tb' 'a\b' 'a b' 'ab' $'a\nb' 'a' 'b' 'A'; do cp lib/0-plain.wav "shardlib/$name.wav"; done
for format in tsv jsonl; do
  "$scan" --no-progress --method classic --format $format shardlib > whole.$format
  for i in 0 1 2; do "$scan" --no-progress --method classic --format $format --shard $i/3 shardlib > shard-$i.$format; done
  paste -d '\n' shard-0.$format shard-1.$format shard-2.$format | sed '/^$/d' > merged.$format
  cmp -s merged.$format whole.$format || fail "merged $format shards differ from the whole: $(diff merged.$format whole.$format)"
done

# A report file that cannot be opened: status 1, as for any report that
# cannot be written.
out=$("$scan" --no-progress -o / lib/0-plain.wav 2> err.txt); status=$?
expect_eq "$status" 1 "exit status for -o /"
grep -q '^tempo-scan: cannot write /: ' err.txt || fail "no message for -o /: $(cat err.txt)"

# Other formats carry the same records.
csv=$("$scan" --no-progress --format csv lib/0-plain.wav lib/missing.wav)
expect_eq "$csv" $'bpm,status,path\r\n140,ok,lib/0-plain.wav\r\n,error: no such file or directory,lib/missing.wav\r' "CSV"
json=$("$scan" --no-progress --method classic --format jsonl lib/0-plain.wav)
expect_eq "$json" '{"path": "lib/0-plain.wav", "bpm": 140, "status": "ok", "confidence": null, "method": "classic", "duration": 20.000, "sample_rate": 44100, "channels": 2, "codec": "pcm_s16le"}' \
  "JSON Lines, classic"
json=$("$scan" --no-progress --format jsonl lib/0-plain.wav)
[[ $json =~ ^\{\"path\":\ \"lib/0-plain.wav\",\ \"bpm\":\ 140,\ \"status\":\ \"ok\",\ \"confidence\":\ (0\.[0-9][0-9]|1\.00),\ \"method\":\ \"accurate\",\ \"duration\":\ 20\.000,\ \"sample_rate\":\ 44100,\ \"channels\":\ 2,\ \"codec\":\ \"pcm_s16le\"\}$ ]] ||
  fail "JSON Lines, accurate: $json"

# Without ffmpeg the files tempo accepts still work, and the accurate
# method reads MP3, FLAC, Ogg Vorbis and Opus in the process; M4A needs it,
# as does the classic method for anything but WAVE.
out=$(TEMPO_FFMPEG=/nonexistent/ffmpeg "$scan" --no-progress lib/0-plain.wav lib/a.flac lib/b.mp3 lib/c.ogg lib/d.opus \
  lib/e.m4a); status=$?
expect_eq "$out" $'140\tok\tlib/0-plain.wav\n100\tok\tlib/a.flac\n128\tok\tlib/b.mp3\n90\tok\tlib/c.ogg\n100\tok\tlib/d.opus\n\terror: /nonexistent/ffmpeg not found\tlib/e.m4a' "no ffmpeg"
expect_eq "$status" 1 "exit status without ffmpeg"
out=$(PATH=/nonexistent "$scan" --no-progress lib/e.m4a)
expect_eq "$out" $'\terror: ffmpeg not found\tlib/e.m4a' "ffmpeg not in PATH"
out=$(PATH=/nonexistent "$scan" --no-progress --method classic lib/a.flac)
expect_eq "$out" $'\terror: ffmpeg not found\tlib/a.flac' "ffmpeg not in PATH, classic"

# A decoder that crashes or hangs takes down only itself (files that only
# the ffmpeg child decodes: M4A and AIFF, and FLAC for the classic method).
# The hanging ones note their PIDs, so that only they are checked and ended.
printf '#!/bin/sh\nkill -SEGV $$\n' > bin/crash && printf '#!/bin/sh\necho $$ >> hang.pids\nexec sleep 300\n' > bin/hang &&
  printf '#!/bin/sh\necho $$ >> hang.pids\nexec >&- 2>&-\nexec sleep 300\n' > bin/hang-closed && chmod +x bin/*
out=$(TEMPO_FFMPEG=bin/crash "$scan" --no-progress lib/e.m4a lib/0-plain.wav)
expect_eq "$out" $'140\tok\tlib/0-plain.wav\n\terror: bin/crash ended by Segmentation fault\tlib/e.m4a' "crashing decoder"
start=$SECONDS
out=$(TEMPO_FFMPEG=bin/hang "$scan" --no-progress --timeout 1 -j 2 lib/e.m4a lib/sub/k.AIFF lib/0-plain.wav)
expect_eq "$out" $'140\tok\tlib/0-plain.wav\n\terror: decoding took longer than 1 s\tlib/e.m4a\n\terror: decoding took longer than 1 s\tlib/sub/k.AIFF' "hanging decoder"
[ $((SECONDS - start)) -le 10 ] || fail "the time limit took $((SECONDS - start)) s"
out=$(TEMPO_FFMPEG=bin/hang-closed "$scan" --no-progress --timeout 1 lib/e.m4a)
expect_eq "$out" $'\terror: decoding took longer than 1 s\tlib/e.m4a' "a decoder that closes its pipes and hangs"
out=$(TEMPO_FFMPEG=bin/hang "$scan" --no-progress --timeout 1 --method classic lib/a.flac)
expect_eq "$out" $'\terror: decoding took longer than 1 s\tlib/a.flac' "hanging decoder, classic"

# Ctrl-C: the finished records stay, the children go, status 130.
TEMPO_FFMPEG=bin/hang "$scan" --no-progress -j 1 -o interrupted.tsv lib/0-plain.wav lib/e.m4a lib/sub/k.AIFF &
pid=$!
for _ in $(seq 50); do [ -s interrupted.tsv ] && break; sleep 0.1; done
sleep 0.3
kill -INT $pid
wait $pid; status=$?
expect_eq "$status" 130 "exit status after Ctrl-C"
expect_eq "$(cat interrupted.tsv)" $'140\tok\tlib/0-plain.wav' "records kept after Ctrl-C"
sleep 0.2
while read -r child; do
  kill -0 "$child" 2> /dev/null && { kill -KILL "$child"; fail "decoder $child outlived the scan"; }
done < hang.pids

# A stop typed at a terminal reaches the whole process group, decoders
# included: the file being decoded is withheld, never reported as failed.
for signal in INT TERM HUP; do
  rm -f stopped.tsv hang.pids
  TEMPO_FFMPEG=bin/hang setsid "$scan" --no-progress -j 1 -o stopped.tsv lib/0-plain.wav lib/e.m4a lib/sub/k.AIFF &
  pid=$!
  for _ in $(seq 50); do [ -s hang.pids ] && break; sleep 0.1; done
  sleep 0.3
  kill -"$signal" -- -"$pid"
  wait $pid; status=$?
  expect_eq "$status" $((128 + $(kill -l "$signal"))) "exit status after SIG$signal to the process group"
  expect_eq "$(cat stopped.tsv)" $'140\tok\tlib/0-plain.wav' "records kept after SIG$signal to the process group"
  while read -r child; do
    kill -0 "$child" 2> /dev/null && { kill -KILL "$child"; fail "decoder $child outlived SIG$signal"; }
  done < hang.pids
done

# Faults of the system, injected in front of the C library (a clang build
# with AddressSanitizer must not object to the shim coming first).
with_fault() { ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" LD_PRELOAD="$shim" TEMPO_FAULT="$1" "${@:2}"; }
# A decoder's pipes that can no longer be watched are named as such, not
# as a decoder that died.
out=$(with_fault poll=12 "$scan" --no-progress lib/e.m4a); status=$?
expect_eq "$out" $'\terror: cannot watch ffmpeg: cannot allocate memory\tlib/e.m4a' "a poll that fails"
expect_eq "$status" 1 "exit status when a poll fails"
# A folder whose listing fails part way is named, and the status is 1.
mkdir -p listing && cp lib/0-plain.wav listing/
out=$(with_fault readdir=5@0 "$scan" --no-progress listing 2> err.txt); status=$?
expect_eq "$(cat err.txt)" "tempo-scan: cannot read directory listing: Input/output error" "a listing that fails"
expect_eq "$status" 1 "exit status when a listing fails"
# A report whose header cannot be written stops the scan before any file
# is analysed, let alone tagged.
cp lib/a.flac header.flac && cp header.flac header-before.flac
out=$("$scan" --no-progress --format csv --write-tags -o /dev/full header.flac 2> err.txt); status=$?
expect_eq "$status" 1 "exit status when the header cannot be written"
expect_eq "$(cat err.txt)" "tempo-scan: cannot write the report: No space left on device" "message when the header cannot be written"
cmp -s header.flac header-before.flac || fail "a scan whose report could not start wrote a tag"
# A stop while the report is blocked on a full pipe: the write carries on
# once the pipe drains, and the scan ends as stopped (130), not as failed.
# The files are analysed long before the pipe drains, so the stop reaches
# the one thread left, the one blocked in its write.
python3 - many 5000 <<'PY' || fail "could not make the many small files"
import os, struct, sys
os.makedirs(sys.argv[1], exist_ok=True)
data = bytes(8192)  # silence: each record is "no tempo", read in place
header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16)
for i in range(int(sys.argv[2])):
    with open(os.path.join(sys.argv[1], "%04d.wav" % i), "wb") as out:
        out.write(header + b"data" + struct.pack("<I", len(data)) + data)
PY
mkfifo report.fifo
exec {pipe}<> report.fifo
"$scan" --no-progress --method classic many > report.fifo 2> err.txt &
pid=$!
blocked() { [ "$(ls "/proc/$pid/task" 2> /dev/null | wc -l)" -eq 1 ] && [[ $(cat "/proc/$pid/wchan" 2> /dev/null) == *pipe_write* ]]; }
for _ in $(seq 100); do blocked && break; sleep 0.1; done
blocked || fail "the scan never blocked on its report alone"
kill -INT $pid
sleep 0.5
cat <&"$pipe" > /dev/null &
drain=$!
wait $pid; status=$?
exec {pipe}>&-
kill "$drain" 2> /dev/null
wait "$drain" 2> /dev/null
expect_eq "$status" 130 "exit status after a stop while the report was blocked"
expect_eq "$(cat err.txt)" "" "standard error after a stop while the report was blocked"

# Plain words for files that are not audio or stop short; a file decoded
# as far as it goes is reported with its tempo and a warning in JSON Lines.
: > empty.mp3
ff -i src100.wav -c:a flac cut.flac && head -c 2048 cut.flac > cut-2k.flac && head -c 400000 cut.flac > cut-half.flac
head -c 1000000 src100.wav > cut-half.wav
expect_eq "$("$tempo" cut-half.wav)" "data size error." "tempo on a cut WAVE"
out=$("$scan" --no-progress --format jsonl empty.mp3 cut-2k.flac cut-half.flac cut-half.wav)
expect_eq "$(sed -n 1p <<< "$out")" '{"path": "cut-2k.flac", "bpm": null, "status": "error: file ends early (ffmpeg: End of file)", "confidence": null, "method": "accurate", "duration": null, "sample_rate": null, "channels": null, "codec": null}' "a FLAC cut at 2 KB"
[[ $(sed -n 2p <<< "$out") =~ ^\{\"path\":\ \"cut-half.flac\",\ \"bpm\":\ 100,\ \"status\":\ \"ok\",.*\"warning\":\ \"file\ ends\ early\",\ \"duration\":\ [0-9.]+,\ \"sample_rate\":\ 44100,\ \"channels\":\ 2,\ \"codec\":\ \"flac\"\}$ ]] ||
  fail "a FLAC cut in half: $(sed -n 2p <<< "$out")"
[[ $(sed -n 3p <<< "$out") =~ ^\{\"path\":\ \"cut-half.wav\",\ \"bpm\":\ 100,\ \"status\":\ \"ok\",.*\"warning\":\ \"file\ ends\ early\",\ \"duration\":\ [0-9.]+,\ \"sample_rate\":\ 44100,\ \"channels\":\ 2,\ \"codec\":\ \"pcm_s16le\"\}$ ]] ||
  fail "a WAVE cut in half: $(sed -n 3p <<< "$out")"
expect_eq "$(sed -n 4p <<< "$out")" '{"path": "empty.mp3", "bpm": null, "status": "error: empty file", "confidence": null, "method": "accurate", "duration": null, "sample_rate": null, "channels": null, "codec": null}' "an empty MP3"
expect_eq "$("$scan" --no-progress cut-half.wav)" $'100\tok\tcut-half.wav' "TSV keeps its fields for a file cut short"
# A WAVE cut right after its header holds no audio: an error with either
# method (tempo refuses it too), not the silence of "no tempo".
head -c 44 src100.wav > header-only.wav
expect_eq "$("$tempo" header-only.wav)" "data size error." "tempo on a WAVE of its header alone"
for method in accurate classic; do
  out=$("$scan" --no-progress --method $method header-only.wav); status=$?
  expect_eq "$out" $'\terror: no audio\theader-only.wav' "a WAVE of its header alone ($method)"
  expect_eq "$status" 1 "status for a WAVE of its header alone ($method)"
done
# TSV and CSV carry the confidence and the warning, and the audio's facts,
# when asked: a file cut in half no longer reads as a plain "ok".
out=$("$scan" --no-progress --columns bpm,status,confidence,warning,path cut-half.flac)
[[ $out =~ ^100$'\t'ok$'\t'(0\.[0-9][0-9]|1\.00)$'\t''file ends early'$'\t'cut-half.flac$ ]] ||
  fail "TSV with the confidence and the warning: $out"
out=$("$scan" --no-progress --format csv --columns path,warning,channels,codec,sample_rate cut-half.flac cut-half.wav \
  header-only.wav)
expect_eq "$out" $'path,warning,channels,codec,sample_rate\r\ncut-half.flac,file ends early,2,flac,44100\r
cut-half.wav,file ends early,2,pcm_s16le,44100\r\nheader-only.wav,,,,\r' "CSV with the warning and the facts"

# The formats decoded in the process, each whole, cut in half, empty, with
# noise over 8 KiB in its middle, and under the name of another format.
# The whole and the lying copy get the clip's tempo, the cut copy the same
# with the warning, the noisy copy a record (a tempo, with the warning
# where the decoder saw the damage); the empty one is ffmpeg's, in its
# words. The FLAC file, lossless and mixed to mono exactly, gives its
# source's reading to the last digit.
mkdir -p own
{ yes noise | head -c 8192 > noise.txt; } 2> /dev/null
while read -r name ext bpm liar codec rate; do
  cp "lib/$name" "own/whole.$ext" && cp "lib/$name" "own/lies.$liar" && : > "own/empty.$ext" &&
    size=$(stat -c %s "lib/$name") && head -c $((size / 2)) "lib/$name" > "own/cut.$ext" &&
    cp "lib/$name" "own/noise.$ext" && dd if=noise.txt of="own/noise.$ext" bs=1 seek=$((size / 2)) conv=notrunc \
      status=none || fail "could not make the $ext copies"
  out=$(TEMPO_FFMPEG=/nonexistent/ffmpeg "$scan" --no-progress --format jsonl "own/whole.$ext" "own/lies.$liar" \
    "own/cut.$ext" "own/noise.$ext")
  ok="\"bpm\": $bpm, \"status\": \"ok\", \"confidence\": [01]\\.[0-9][0-9], \"method\": \"accurate\""
  # The stream as coded: its own rate and channels, not the decoder's.
  facts="\"duration\": [0-9]+\\.[0-9]{3}, \"sample_rate\": $rate, \"channels\": 2, \"codec\": \"$codec\""
  [[ $(sed -n 1p <<< "$out") =~ ^\{\"path\":\ \"own/cut.$ext\",\ $ok,\ \"warning\":\ \"file\ ends\ early\",\ $facts\}$ ]] ||
    fail "$ext cut in half: $(sed -n 1p <<< "$out")"
  [[ $(sed -n 2p <<< "$out") =~ ^\{\"path\":\ \"own/lies.$liar\",\ $ok,\ $facts\}$ ]] || fail "$ext named .$liar: $(sed -n 2p <<< "$out")"
  [[ $(sed -n 3p <<< "$out") =~ ^\{\"path\":\ \"own/noise.$ext\",\ \"bpm\":\ [0-9]+,\ \"status\":\ \"ok\" ]] ||
    fail "$ext with noise in it: $(sed -n 3p <<< "$out")"
  [[ $(sed -n 4p <<< "$out") =~ ^\{\"path\":\ \"own/whole.$ext\",\ $ok,\ $facts\}$ ]] || fail "$ext whole: $(sed -n 4p <<< "$out")"
  expect_eq "$(cut -f2- <<< "$("$scan" --no-progress "own/empty.$ext")")" \
    "$(cut -f2- <<< "$("$scan" --no-progress --method classic "own/empty.$ext")")" "empty .$ext, as ffmpeg says"
done <<'LIST'
a.flac flac 100 mp3 flac 44100
b.mp3 mp3 128 ogg mp3 48000
c.ogg ogg 90 opus vorbis 22050
d.opus opus 100 flac opus 48000
LIST
# (The codec, rightly, differs.)
expect_eq "$("$scan" --no-progress --format jsonl lib/a.flac | sed 's|lib/a.flac|x|; s|"flac"}$|"pcm_s16le"}|')" \
  "$("$scan" --no-progress --format jsonl src100.wav | sed 's|src100.wav|x|')" "a FLAC file against its source"
# Damage the decoder notices: noise in an Ogg page fails its checksum.
[[ $("$scan" --no-progress --format jsonl own/noise.ogg) == *'"warning": "file ends early"'* ]] ||
  fail "noise in an Ogg file goes unnoticed"

# What cannot be read is reported, or for a folder named on standard
# error, and the scan goes on; odd names come out escaped. Run as an
# ordinary user, since permissions do not stop root.
mkdir -p perm/locked && cp lib/0-plain.wav perm/ok.wav && cp lib/0-plain.wav perm/secret.wav &&
  cp lib/0-plain.wav "perm/new"$'\n'"line"$'\xff'".wav" && cp lib/0-plain.wav perm/locked/hidden.wav || fail "perm tree"
chmod 755 perm && chmod 000 perm/locked perm/secret.wav
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
out=$("${as_user[@]}" "$scan" --no-progress --method classic --format jsonl perm 2> err.txt); status=$?
expect_eq "$out" '{"path": "perm/new\nline\udcff.wav", "bpm": 140, "status": "ok", "confidence": null, "method": "classic", "duration": 20.000, "sample_rate": 44100, "channels": 2, "codec": "pcm_s16le"}
{"path": "perm/ok.wav", "bpm": 140, "status": "ok", "confidence": null, "method": "classic", "duration": 20.000, "sample_rate": 44100, "channels": 2, "codec": "pcm_s16le"}
{"path": "perm/secret.wav", "bpm": null, "status": "error: permission denied", "confidence": null, "method": "classic", "duration": null, "sample_rate": null, "channels": null, "codec": null}' "unreadable file and folder"
expect_eq "$(cat err.txt)" "tempo-scan: cannot read directory perm/locked: Permission denied" "unreadable folder"
expect_eq "$status" 1 "exit status with an unreadable file"
chmod 755 perm/locked && chmod 644 perm/secret.wav

# A folder that cannot be read alone still makes the status 1.
mkdir -p perm2/locked && cp lib/0-plain.wav perm2/ok.wav && chmod 000 perm2/locked
out=$("${as_user[@]}" "$scan" --no-progress --method classic perm2 2> err.txt); status=$?
expect_eq "$out" $'140\tok\tperm2/ok.wav' "records beside an unreadable folder"
expect_eq "$status" 1 "exit status with only an unreadable folder"
chmod 755 perm2/locked

# Records and the progress line on one terminal: the line is cleared
# before each record, so no record starts after it.
out=$(script -qec "$scan --progress --method classic lib/0-plain.wav lib/f-24bit.wav lib/h-mono.wav" /dev/null)
grep -q $'\r\033\[K140\tok\tlib/0-plain.wav' <<< "$out" || fail "no cleared line before a record: $(cat -v <<< "$out")"
grep -qE '(files|left)[0-9]' <<< "$out" && fail "a record ran into the progress line: $(cat -v <<< "$out")"

# A reader that stops early ends the scan quietly.
"$scan" --no-progress -j 1 lib 2> err.txt | head -1 > /dev/null
expect_eq "$(cat err.txt)" "" "standard error when the reader stops early"

# The progress line goes to standard error only, when asked for.
out=$("$scan" --progress lib/0-plain.wav 2> err.txt)
expect_eq "$out" $'140\tok\tlib/0-plain.wav' "records with --progress"
grep -q '1 files' err.txt || fail "no progress line: $(cat -v err.txt)"

# A report nobody can read ends the scan with status 1.
out=$("$scan" --no-progress lib > /dev/full 2> err.txt); status=$?
expect_eq "$status" 1 "exit status writing to a full disk"
expect_eq "$(cat err.txt)" "tempo-scan: cannot write the report: No space left on device" "message for a full disk"

# Usage errors: status 2 and a message on standard error only.
for args in "" "--format xml lib" "-j 0 lib" "--shard 3/3 lib" "--bogus lib" "--method fast lib" "--range 100-150 lib" \
  "--range 0-100 lib" "--range 100 lib" "--timeout 1000001 lib" "--beats lib" "--decimals 3 lib"; do
  # shellcheck disable=SC2086
  out=$("$scan" $args 2> err.txt); status=$?
  expect_eq "$status" 2 "status for [$args]"
  expect_eq "$out" "" "standard output for [$args]"
  grep -q '^tempo-scan: ' err.txt || fail "no message for [$args]"
done
"$scan" --help | grep -q '^usage: tempo-scan' || fail "--help"
"$scan" --version | grep -q '^tempo-scan [0-9]' || fail "--version"

finish
