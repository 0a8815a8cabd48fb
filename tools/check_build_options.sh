#!/usr/bin/env bash
# What a packager meets: the build options and the dependencies each part
# needs, each tried in a build folder of its own.
#   TEMPO_WITH_TAGLIB=OFF builds a tempo-scan whose --write-tags exits 2
#   with its message; ON without TagLib stops the configure and says what
#   to install; AUTO without it says it builds without; the same for
#   TEMPO_WITH_SQLITE and --db, for TEMPO_WITH_DECODERS, whose OFF leaves
#   every format to ffmpeg, and for TEMPO_WITH_PYTHON and the Python
#   module; plain tempo builds and runs without KISS FFT, which only the
#   accurate analysis needs.
#   tools/check_build_options.sh [WORK_DIR]
set -uo pipefail
cd "$(dirname "$0")/.."
work=${1:-build/options}
rm -rf "$work" && mkdir -p "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
configure() { local dir=$1; shift; cmake -S . -B "$work/$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"; }
# Whether a log says TEXT, however CMake wrapped its lines.
says() { tr -s ' \n' '  ' < "$1" | grep -qF "$2"; }

configure notags -DTEMPO_WITH_TAGLIB=OFF -DTEMPO_WITH_SQLITE=OFF -DTEMPO_WITH_DECODERS=OFF > "$work/notags.log" 2>&1 ||
  fail "configure with TEMPO_WITH_TAGLIB=OFF, TEMPO_WITH_SQLITE=OFF and TEMPO_WITH_DECODERS=OFF"
says "$work/notags.log" "built without TagLib: --write-tags is refused (TEMPO_WITH_TAGLIB=OFF)" ||
  fail "configure did not say tags are off"
cmake --build "$work/notags" --target tempo-scan > /dev/null || fail "build tempo-scan without TagLib"
out=$("$work/notags/tempo-scan" --write-tags . 2> "$work/err.txt"); status=$?
[ "$status" -eq 2 ] || fail "--write-tags without TagLib exited $status, not 2"
[ -z "$out" ] || fail "--write-tags without TagLib wrote [$out]"
[ "$(cat "$work/err.txt")" == "tempo-scan: --write-tags needs a tempo-scan built with TagLib" ] ||
  fail "--write-tags without TagLib said [$(cat "$work/err.txt")]"

says "$work/notags.log" "built without SQLite: --db is refused (TEMPO_WITH_SQLITE=OFF)" ||
  fail "configure did not say the index is off"
out=$("$work/notags/tempo-scan" --db "$work/index.db" . 2> "$work/err.txt"); status=$?
[ "$status" -eq 2 ] || fail "--db without SQLite exited $status, not 2"
[ -z "$out" ] && [ ! -e "$work/index.db" ] || fail "--db without SQLite wrote [$out] or made an index"
[ "$(cat "$work/err.txt")" == "tempo-scan: --db needs a tempo-scan built with SQLite" ] ||
  fail "--db without SQLite said [$(cat "$work/err.txt")]"

says "$work/notags.log" "built without its own decoders: ffmpeg decodes every format (TEMPO_WITH_DECODERS=OFF)" ||
  fail "configure did not say the decoders are off"
cmake --build "$work/notags" --target beatgen > /dev/null || fail "build beatgen"
"$work/notags/beatgen" 128 44100 10 "$work/clip.wav" > /dev/null &&
  ffmpeg -nostdin -loglevel error -y -i "$work/clip.wav" "$work/clip.mp3" || fail "make an MP3"
out=$(TEMPO_FFMPEG=/nonexistent/ffmpeg "$work/notags/tempo-scan" --no-progress "$work/clip.mp3")
[ "$out" == $'\terror: /nonexistent/ffmpeg not found\t'"$work/clip.mp3" ] ||
  fail "an MP3 without the decoders nor ffmpeg gave [$out]"

# SQLite not to be found, as on a machine without libsqlite3-dev.
if configure sqlite-on -DTEMPO_WITH_SQLITE=ON -DCMAKE_DISABLE_FIND_PACKAGE_SQLite3=TRUE > "$work/sqlite-on.log" 2>&1; then
  fail "TEMPO_WITH_SQLITE=ON configured without SQLite"
fi
says "$work/sqlite-on.log" "TEMPO_WITH_SQLITE=ON, but SQLite was not found (apt-get install libsqlite3-dev)" ||
  fail "TEMPO_WITH_SQLITE=ON without SQLite did not say what to install"
configure sqlite-auto -DCMAKE_DISABLE_FIND_PACKAGE_SQLite3=TRUE > "$work/sqlite-auto.log" 2>&1 ||
  fail "configure AUTO without SQLite"
says "$work/sqlite-auto.log" "built without SQLite: --db is refused (TEMPO_WITH_SQLITE=AUTO)" ||
  fail "AUTO without SQLite did not say so"

# TagLib hidden from pkg-config, as on a machine without libtag1-dev.
if PKG_CONFIG_LIBDIR=/nonexistent configure taglib-on -DTEMPO_WITH_TAGLIB=ON > "$work/on.log" 2>&1; then
  fail "TEMPO_WITH_TAGLIB=ON configured without TagLib"
fi
says "$work/on.log" "TEMPO_WITH_TAGLIB=ON, but TagLib was not found (apt-get install libtag1-dev pkg-config)" ||
  fail "TEMPO_WITH_TAGLIB=ON without TagLib did not say what to install"
PKG_CONFIG_LIBDIR=/nonexistent configure taglib-auto > "$work/auto.log" 2>&1 || fail "configure AUTO without TagLib"
says "$work/auto.log" "built without TagLib: --write-tags is refused (TEMPO_WITH_TAGLIB=AUTO)" ||
  fail "AUTO without TagLib did not say so"
says "$work/auto.log" "built without its own decoders: ffmpeg decodes every format (TEMPO_WITH_DECODERS=AUTO)" ||
  fail "AUTO without the decoder libraries did not say so"
if PKG_CONFIG_LIBDIR=/nonexistent configure decoders-on -DTEMPO_WITH_DECODERS=ON > "$work/decoders-on.log" 2>&1; then
  fail "TEMPO_WITH_DECODERS=ON configured without the decoder libraries"
fi
says "$work/decoders-on.log" "TEMPO_WITH_DECODERS=ON, but the decoder libraries were not found (apt-get install libmpg123-dev" ||
  fail "TEMPO_WITH_DECODERS=ON without the libraries did not say what to install"

# The Python module: OFF leaves it out and says so; ON without pybind11
# stops the configure and says what to install; AUTO without it says it
# builds without.
configure python-off -DTEMPO_WITH_PYTHON=OFF > "$work/python-off.log" 2>&1 || fail "configure with TEMPO_WITH_PYTHON=OFF"
says "$work/python-off.log" "built without its Python module (TEMPO_WITH_PYTHON=OFF)" ||
  fail "configure did not say the Python module is off"
if configure python-on -DTEMPO_WITH_PYTHON=ON -DCMAKE_DISABLE_FIND_PACKAGE_pybind11=TRUE > "$work/python-on.log" 2>&1
then
  fail "TEMPO_WITH_PYTHON=ON configured without pybind11"
fi
says "$work/python-on.log" "TEMPO_WITH_PYTHON=ON, but pybind11 or Python's headers were not found (apt-get install pybind11-dev python3-dev)" ||
  fail "TEMPO_WITH_PYTHON=ON without pybind11 did not say what to install"
configure python-auto -DCMAKE_DISABLE_FIND_PACKAGE_pybind11=TRUE > "$work/python-auto.log" 2>&1 ||
  fail "configure AUTO without pybind11"
says "$work/python-auto.log" "built without its Python module (TEMPO_WITH_PYTHON=AUTO)" ||
  fail "AUTO without pybind11 did not say so"

configure nofft -DTEMPO_KISSFFT_HEADER=/nonexistent/kissfft.hh > /dev/null 2>&1 || fail "configure without KISS FFT"
cmake --build "$work/nofft" --target tempo beatgen > /dev/null || fail "build plain tempo without KISS FFT"
"$work/nofft/beatgen" 128 44100 10 "$work/clip.wav" > /dev/null &&
  [ "$("$work/nofft/tempo" "$work/clip.wav")" == "bpm:128" ] || fail "plain tempo built without KISS FFT"
if cmake --build "$work/nofft" --target tempo_core > "$work/nofft.log" 2>&1; then
  fail "the accurate analysis built without KISS FFT"
fi
says "$work/nofft.log" "apt-get install libkissfft-dev" || fail "the build without KISS FFT did not say what to install"

echo "$failures failures"
[ "$failures" -eq 0 ]
