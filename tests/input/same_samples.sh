#!/usr/bin/env bash
# The in-process decoders of the Windows build against the Linux build's on
# the same clips: decoded_hash prints each clip's rate, frames, end and the
# hash of its samples, and the two systems must print the same lines.
#   same_samples.sh WINE LINUX_DECODED_HASH WINDOWS_DECODED_HASH CLIP_DIR
set -uo pipefail
wine=$1 linux=$2 windows=$3 clips=$4
cd "$clips" || exit 1
files=(*.mp3 *.mp2 *.flac *.ogg *.opus)
[ ${#files[@]} -ge 16 ] || { echo "FAIL: only ${#files[@]} clips in $clips"; exit 1; }
"$linux" "${files[@]}" > linux-hashes.txt || { echo "FAIL: the Linux decoded_hash failed"; exit 1; }
WINEDEBUG=-all "$wine" "$windows" "${files[@]}" | tr -d '\r' > windows-hashes.txt ||
  { echo "FAIL: the Windows decoded_hash failed"; exit 1; }
cat linux-hashes.txt
if ! cmp -s linux-hashes.txt windows-hashes.txt; then
  echo "FAIL: the decoders differ between Linux and Windows:"
  diff linux-hashes.txt windows-hashes.txt
  exit 1
fi
# A clip that decodes to nothing would hash alike everywhere.
if awk '$3 == 0' linux-hashes.txt | grep -q .; then echo "FAIL: a clip gave no samples"; exit 1; fi
echo "the same samples on both systems"
