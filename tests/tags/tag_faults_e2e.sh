#!/usr/bin/env bash
# Every tag write verified, under faults: each format tempo-scan tags, and
# each it refuses, under each condition a user's disk can be in. After
# every run each file is either byte-identical to its original or holds
# the new tempo with its audio unchanged, its record says which, no copy is
# left behind, and a written file keeps no reserved blocks past its end. A
# dry run reports what the real run then does, wherever a check can tell.
# Faults of the disk that cannot be staged (a disk that fills during the
# copy, a copy damaged before it is checked) are injected in front of the C
# library (the fault shim); full disks are small tmpfs mounts, as root.
# Usage: tag_faults_e2e.sh TEMPO_SCAN BEATGEN FAULT_SHIM WORK_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_helpers.sh" || exit 1
scan=$1 beatgen=$2 shim=$3 work=$4
rm -rf "$work" && mkdir -p "$work" || exit 1
cd "$work" || exit 1
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: the fault matrix mounts small file systems and changes owners, which needs root"
  exit 0
fi
audio_md5() { ffmpeg -nostdin -loglevel error -i "$1" -map 0:a -c copy -f md5 -; }
scan_one() { "$scan" --no-progress "$@"; }
# A clang build with AddressSanitizer must not object to the shim coming
# first.
with_fault() { ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" LD_PRELOAD="$shim" TEMPO_FAULT="$1" "${@:2}"; }

"$beatgen" 128 44100 8 src.wav > /dev/null || exit 1
ff -f lavfi -i "color=c=red:s=64x64" -frames:v 1 cover.png || exit 1
cover=(-i cover.png -map 0:a -map 1:v -c:v copy -disposition:v attached_pic)
mkdir originals
# name, then the encoder's options
while read -r name options; do
  # shellcheck disable=SC2086
  ff -i src.wav $options "originals/$name" || fail "could not make $name"
done <<'LIST'
a.mp3 -c:a libmp3lame
b.flac -c:a flac
d.ogg -c:a libvorbis
e.opus -c:a libopus
f.m4a -c:a aac
h.aiff -c:a pcm_s16be
i-flac.mka -c:a flac
j-vorbis.mka -c:a libvorbis
k-opus.mka -c:a libopus
l-pcm.mka -c:a pcm_s16le
m.webm -c:a libopus
n-rf64.wav -rf64 always
LIST
ff -i src.wav "${cover[@]}" -c:a libmp3lame -id3v2_version 3 originals/a2-cover.mp3 || fail "could not make a2-cover.mp3"
cp src.wav originals/g.wav
# A FLAC whose comment block is the last, with no padding to grow into.
python3 - originals/b.flac originals/c-nopad.flac <<'PY' || fail "could not make c-nopad.flac"
import sys
data = open(sys.argv[1], "rb").read()
at, blocks = 4, []
while True:
    kind, length = data[at] & 0x7F, int.from_bytes(data[at + 1:at + 4], "big")
    blocks.append((kind, data[at + 4:at + 4 + length]))
    last, at = data[at] >> 7, at + 4 + length
    if last:
        break
kept = [b for b in blocks if b[0] != 1]
out = b"fLaC" + b"".join(bytes([k | (0x80 if i == len(kept) - 1 else 0)]) + len(b).to_bytes(3, "big") + b
                          for i, (k, b) in enumerate(kept))
open(sys.argv[2], "wb").write(out + data[at:])
PY
taggable="a.mp3 a2-cover.mp3 b.flac c-nopad.flac d.ogg e.opus f.m4a g.wav h.aiff"
refused="i-flac.mka j-vorbis.mka k-opus.mka l-pcm.mka m.webm n-rf64.wav"
declare -A md5 refusal
for f in $taggable $refused; do md5[$f]=$(audio_md5 "originals/$f"); done
for f in $refused; do refusal[$f]="not taggable"; done

# A fresh copy of every original in DIR (which may be a mount point).
stage() { mkdir -p "$1" && find "$1" -mindepth 1 -delete && cp originals/* "$1"/; }
# The outcome tempo-scan gave FILE in REPORT (TSV with the tag column).
outcome() { awk -F'\t' -v p="$2" '$4 == p { print $3 }' <<< "$1"; }
# Checks FILE after a real run whose outcome was OUTCOME: written, it holds
# the tempo, its audio is the original's and it keeps no block past its
# end beyond what the original kept; otherwise it is byte-identical.
check_file() {
  local file=$1 result=$2 name=${1##*/}
  if [ "$result" == written ]; then
    expect_eq "$(scan_one --write-tags --dry-run "$file" | cut -f3)" unchanged "tempo held by $file"
    expect_eq "$(audio_md5 "$file")" "${md5[$name]}" "audio of $file"
    local block size blocks before_size before_blocks
    block=$(stat -f -c %S "$file")
    read -r size blocks <<< "$(stat -c '%s %b' "$file")"
    read -r before_size before_blocks <<< "$(stat -c '%s %b' "originals/$name")"
    local extra=$(( before_blocks * 512 - (before_size + block - 1) / block * block ))
    [ "$extra" -gt 0 ] || extra=0
    [ $(( blocks * 512 )) -le $(( (size + block - 1) / block * block + extra )) ] ||
      fail "$file keeps $(( blocks * 512 )) bytes allocated for $size"
  else
    cmp -s "$file" "originals/$name" || fail "$file changed though its outcome was [$result]"
  fi
}
# Checks every file of DIR after REPORT, each against the outcome the
# function EXPECT gives it; no copy may be left.
check_run() {
  local dir=$1 report=$2 expect=$3 f result
  for f in $taggable $refused; do
    result=$(outcome "$report" "$dir/$f")
    expect_eq "$result" "$($expect "$f")" "outcome of $dir/$f"
    check_file "$dir/$f" "$result"
  done
  [ -z "$(find "$dir" -name '.*.tempo-*')" ] || fail "a copy was left in $dir: $(find "$dir" -name '.*.tempo-*')"
}
# The dry run's outcomes, "would write" standing for "written".
as_dry() { sed 's/\twritten\t/\twould write\t/'; }
refusal_or() { if [ -n "${refusal[$1]:-}" ]; then echo "${refusal[$1]}"; else echo "$2"; fi; }

# Enough room: every taggable file is written, the rest refused by content.
free_space() { refusal_or "$1" written; }
stage free
dry=$(scan_one --write-tags --dry-run free)
real=$(scan_one --write-tags free)
expect_eq "$dry" "$(as_dry <<< "$real")" "dry run against the real run with free space"
check_run free "$real" free_space

# A disk full to its last block before the copy is made.
no_space() { refusal_or "$1" "error: no space left on device"; }
mkdir -p full
if mount -t tmpfs -o size=24m tempo-e2e-tag-faults full; then
  trap 'umount "$work/full" 2> /dev/null' EXIT
  stage full
  dd if=/dev/zero of=full/filler bs=4k 2> /dev/null
  dry=$(scan_one --write-tags --dry-run full)
  real=$(scan_one --write-tags full); status=$?
  expect_eq "$status" 1 "exit status on a full disk"
  expect_eq "$dry" "$real" "dry run against the real run on a full disk"
  check_run full "$real" no_space
  umount full
else
  fail "cannot mount a tmpfs"
fi

# A disk that fills while the copy is written.
stage during
real=$(with_fault copy-full "$scan" --no-progress --write-tags during)
check_run during "$real" no_space

# A copy damaged after it was tagged: it must not verify.
not_verified() { refusal_or "$1" "error: tagged copy did not verify"; }
stage damaged
real=$(with_fault corrupt-copy "$scan" --no-progress --write-tags damaged | sed -E 's/(did not verify) \([^)]*\)/\1/')
check_run damaged "$real" not_verified

# A folder that only its owner, another user, may write to, and even it
# not: its mode has no write bit, so it is read-only for everyone.
folder_locked() { refusal_or "$1" "error: file is read-only"; }
stage locked && chown -R 65534:65534 locked && chmod 555 locked
as_other=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
dry=$("${as_other[@]}" "$scan" --no-progress --write-tags --dry-run locked)
real=$("${as_other[@]}" "$scan" --no-progress --write-tags locked)
expect_eq "$dry" "$real" "dry run against the real run in a read-only folder"
check_run locked "$real" folder_locked
chmod 755 locked

# A folder another user owns, writable only to it, holding our files: no
# copy can be made beside them.
folder_other() { refusal_or "$1" "error: folder cannot be written"; }
stage foreign && chown 1000:100 foreign/* && chown 65534:65534 foreign && chmod 755 foreign
as_owner=(setpriv --reuid=1000 --regid=100 --clear-groups --)
dry=$("${as_owner[@]}" "$scan" --no-progress --write-tags --dry-run foreign)
real=$("${as_owner[@]}" "$scan" --no-progress --write-tags foreign)
expect_eq "$dry" "$real" "dry run against the real run in another user's folder"
check_run foreign "$real" folder_other

# A file another user owns, writable to the group it shares with us: a
# copy could not be given its owner.
owner_lost() { refusal_or "$1" "error: file's owner cannot be kept"; }
stage others && chown 65534:100 others/* && chmod 664 others/* && chown 1000:100 others
as_member=(setpriv --reuid=1000 --regid=100 --groups=100 --)
dry=$("${as_member[@]}" "$scan" --no-progress --write-tags --dry-run others)
real=$("${as_member[@]}" "$scan" --no-progress --write-tags others)
expect_eq "$dry" "$real" "dry run against the real run on another user's files"
check_run others "$real" owner_lost

# Files with a second name elsewhere.
hard_linked() { refusal_or "$1" "error: file has several hard links"; }
stage linked && mkdir -p second-names && for f in linked/*; do ln "$f" "second-names/${f##*/}"; done
dry=$(scan_one --write-tags --dry-run linked)
real=$(scan_one --write-tags linked)
expect_eq "$dry" "$real" "dry run against the real run on hard links"
check_run linked "$real" hard_linked

# Links that lead out of the paths scanned.
outside() { echo "error: link leads outside the scanned paths"; }
stage target && mkdir -p links && for f in target/*; do ln -s "$PWD/$f" "links/${f##*/}"; done
dry=$(scan_one --write-tags --dry-run links)
real=$(scan_one --write-tags links)
expect_eq "$dry" "$real" "dry run against the real run on links out"
for f in $taggable $refused; do
  expect_eq "$(outcome "$real" "links/$f")" "error: link leads outside the scanned paths" "outcome of links/$f"
  cmp -s "target/$f" "originals/$f" || fail "target/$f changed through a link"
done

finish
