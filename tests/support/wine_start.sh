#!/usr/bin/env bash
# Runs one Windows test program under wine: wine_start.sh WINE PROGRAM ARGS...
#
# Now and then wine fails to start a program at all: it exits at once with
# a failure, having printed nothing, and the program never ran. Such a start
# is tried once more. A program that ran printed something (every test
# program names itself first), and its status stands as it is, pass or
# fail: nothing that ran is ever run again.
set -u
wine=$1
shift
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2; do
  "$wine" "$@" > "$out" 2> "$err"
  status=$?
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ]; then
    break
  fi
  echo "wine_start: wine started nothing (status $status, attempt $attempt)" >&2
done
cat "$out"
cat "$err" >&2
exit "$status"
