#!/usr/bin/env bash
# wine_start.sh tries again only a start that ran nothing: a stand-in for
# wine counts its runs and behaves as each case says.
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/wine" <<'WINE'
#!/usr/bin/env bash
runs=$(( $(cat "$2" 2>/dev/null || echo 0) + 1 ))
echo "$runs" > "$2"
case $1 in
  silent-once) [ "$runs" -eq 1 ] && exit 3; echo ran; exit 0 ;;
  silent-always) exit 3 ;;
  fails-loudly) echo FAILED; exit 1 ;;
  fails-on-stderr) echo complaint >&2; exit 1 ;;
  passes-quietly) exit 0 ;;
esac
WINE
chmod +x "$work/wine"
failures=0
# case, status expected, runs expected, what its output holds
while read -r mode status runs holds; do
  rm -f "$work/count"
  output=$(bash "$here/wine_start.sh" "$work/wine" "$mode" "$work/count" 2> /dev/null)
  got=$?
  got_runs=$(cat "$work/count")
  if [ "$got" != "$status" ] || [ "$got_runs" != "$runs" ] || [ "$output" != "${holds#-}" ]; then
    echo "$mode: status $got, runs $got_runs, output '$output'; expected $status, $runs, '${holds#-}'"
    failures=$((failures + 1))
  fi
done <<'CASES'
silent-once 0 2 ran
silent-always 3 2 -
fails-loudly 1 1 FAILED
fails-on-stderr 1 1 -
passes-quietly 0 1 -
CASES
exit $((failures > 0))
