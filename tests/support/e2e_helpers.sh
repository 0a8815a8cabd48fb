# Sourced by the tempo-scan end-to-end scripts: failures are counted, not
# fatal, so one run reports every case that is wrong.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() { [ "$1" == "$2" ] || fail "$3: expected [$2], got [$1]"; }
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
# Ends the script: the count, and a status that says whether it is 0.
finish() {
  echo "$failures failures"
  [ "$failures" -eq 0 ]
}
