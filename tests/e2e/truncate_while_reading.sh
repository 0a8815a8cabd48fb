#!/usr/bin/env bash
# A large sparse WAVE file cut short by another process while tempo reads
# it, several times: tempo must end with "data size error." (or, if it
# finished first, its result), never by a signal.
# Usage: truncate_while_reading.sh TEMPO WORK_DIR
set -uo pipefail
tempo=$1 work=$2
mkdir -p "$work" || exit 1
file=$work/truncated-while-read.wav
le32() {
  # shellcheck disable=SC2059
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}
data=$((1024 * 1024 * 1024))
hits=0
for delay in 0.05 0.1 0.2 0.4 0.05; do
  { printf 'RIFF'; le32 $((36 + data)); printf 'WAVEfmt '; le32 16; printf '\x01\x00\x02\x00'; le32 44100
    le32 176400; printf '\x04\x00\x10\x00data'; le32 $data; } > "$file"
  truncate -s $((44 + data)) "$file"
  "$tempo" "$file" > "$work/out.txt" &
  pid=$!
  sleep "$delay"
  truncate -s 1000000 "$file"
  wait $pid; status=$?
  out=$(cat "$work/out.txt")
  if [ "$status" -eq 1 ] && [ "$out" == "data size error." ]; then
    hits=$((hits + 1))
  elif [ "$status" -ne 0 ] || [ "$out" != "bpm:59" ]; then
    echo "FAIL: after ${delay} s: status $status, output [$out]"
    exit 1
  fi
done
rm -f "$file"
echo "$hits of 5 runs were cut short while reading"
[ "$hits" -gt 0 ]
