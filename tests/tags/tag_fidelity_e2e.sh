#!/usr/bin/env bash
# A tag write changes the tempo and nothing else, as a reader that shares
# no code with tempo-scan sees it (mutagen, tests/support/tag_matrix.py):
# richly tagged files in every format tempo-scan tags (ID3v2.3 and 2.4
# MP3, FLAC with a picture block, Ogg Vorbis and Opus with an embedded
# picture, M4A with freeform atoms and a cover, WAVE with LIST/INFO and
# bext, AIFF), each with two comments in two languages, several artists,
# ReplayGain, MusicBrainz ids, a rating, lyrics, a private frame and a
# large cover (so the Ogg comments span many pages), keep every item, in
# order where the format has one, and their audio, when the tempo is
# written and when it is overwritten.
# Usage: tag_fidelity_e2e.sh TEMPO_SCAN BEATGEN PYTHON WORK_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_helpers.sh" || exit 1
source "$(dirname "${BASH_SOURCE[0]}")/../support/tag_matrix.sh" || exit 1
scan=$1 beatgen=$2 python=$3 work=$4
rm -rf "$work" && mkdir -p "$work" || exit 1
cd "$work" || exit 1
make_tag_matrix "$beatgen" rich || exit 1
files="v23.mp3 v24.mp3 rich.flac rich.ogg rich.opus rich.m4a rich.wav rich.aiff"
declare -A before md5
for f in $files; do
  before[$f]=$(items "rich/$f")
  md5[$f]=$(audio_md5 "rich/$f")
  [ "$(wc -l <<< "${before[$f]}")" -ge 10 ] || fail "rich/$f holds too few items to test: ${before[$f]}"
  grep -q -i 'cover\|APIC\|picture' <<< "${before[$f]}" || fail "rich/$f holds no picture to keep"
done

# check FILE TEMPO WHAT: every item of FILE as before, its tempo TEMPO,
# its audio as before.
check() {
  local name=${1##*/}
  local after
  after=$(items "$1")
  [ "$after" == "${before[$name]}" ] || fail "$3: items of $name changed: $(diff <(echo "${before[$name]}") <(echo "$after") | head -5)"
  expect_eq "$(tempo_of "$1")" "$2" "$3: tempo of $name"
  expect_eq "$(audio_md5 "$1")" "${md5[$name]}" "$3: audio of $name"
}

out=$("$scan" --no-progress --write-tags rich); status=$?
expect_eq "$status" 0 "status of the first write"
expect_eq "$(cut -f3 <<< "$out" | sort | uniq -c | sed 's/^ *//')" "8 written" "outcomes of the first write"
for f in $files; do check "rich/$f" 128 "written"; done

# Overwritten: the tempo frame or field that is there now takes the new
# value in its place.
out=$("$scan" --no-progress --write-tags --overwrite-tags --range 50-100 rich); status=$?
expect_eq "$status" 0 "status of the overwrite"
expect_eq "$(cut -f3 <<< "$out" | sort | uniq -c | sed 's/^ *//')" "8 written" "outcomes of the overwrite"
for f in $files; do check "rich/$f" 64 "overwritten"; done
[ -z "$(find rich -name '.*tempo-*')" ] || fail "a copy was left behind: $(find rich -name '.*tempo-*')"

finish
