#!/usr/bin/env bash
# The Python module installed as the README says: a virtual environment
# that sees Debian's packages (NumPy), pip install --no-build-isolation
# from the clone (nothing downloaded), then the module imported from
# outside the clone and run on a generated clip against tempo.
#   tools/check_python_install.sh [WORK_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-build/python-install}
rm -rf "$work" && mkdir -p "$work"
work=$(cd "$work" && pwd)

/usr/bin/python3 -m venv --system-site-packages "$work/env"
CMAKE_BUILD_PARALLEL_LEVEL=2 "$work/env/bin/pip" install --no-build-isolation --no-index . > "$work/pip.log" 2>&1 ||
  { cat "$work/pip.log"; echo "pip install failed" >&2; exit 1; }

cmake -S . -B "$work/programs" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTEMPO_WITH_PYTHON=OFF > /dev/null
cmake --build "$work/programs" --target tempo beatgen -j 2 > /dev/null
"$work/programs/beatgen" 133 44100 30 "$work/clip.wav" > /dev/null
expected=$("$work/programs/tempo" "$work/clip.wav")
cd "$work"
installed=$("$work/env/bin/python" -c '
import sys, wave, numpy, tempo
assert tempo.__file__.startswith(sys.prefix), tempo.__file__
with wave.open(sys.argv[1]) as clip:
    samples = numpy.frombuffer(clip.readframes(clip.getnframes()), "<i2").reshape(-1, 2)
    result = tempo.analyse(samples, clip.getframerate(), method="classic")
assert tempo.analyse_file(sys.argv[1], method="classic").bpm == result.bpm
print(f"bpm:{result.bpm}")' "$work/clip.wav")
[ "$installed" = "$expected" ] || { echo "the installed module gave '$installed', tempo '$expected'" >&2; exit 1; }
echo "installed Python module: $installed, as tempo"
