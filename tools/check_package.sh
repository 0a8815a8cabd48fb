#!/usr/bin/env bash
# Builds the packages and checks them as a user would: the .deb unpacked
# into a scratch root runs on a generated clip (tempo and tempo-scan, an MP3
# with no ffmpeg, and python3-tempo's module on its samples), depends on
# the decoders' libraries, lintian has
# nothing to say, and a separate project built against the installed
# library prints the same line as the tool.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cmake --workflow --preset package
build=build/release
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/tempo_${version}_$(dpkg --print-architecture).deb
dev=$build/libtempo-dev_${version}_$(dpkg --print-architecture).deb

"$build/beatgen" 140 44100 30 "$scratch/clip.wav"
expected=$("$build/tempo" "$scratch/clip.wav")
[ "$expected" = "bpm:140" ] || { echo "release binary printed '$expected'" >&2; exit 1; }

dpkg -x "$deb" "$scratch/root"
packaged=$("$scratch/root/usr/bin/tempo" "$scratch/clip.wav")
[ "$packaged" = "$expected" ] || { echo "packaged tempo printed '$packaged'" >&2; exit 1; }
test -f "$scratch/root/usr/share/man/man1/tempo.1.gz"
test -f "$scratch/root/usr/share/man/man1/tempo-scan.1.gz"
echo "packaged binary: $packaged"
scanned=$("$scratch/root/usr/bin/tempo-scan" --no-progress "$scratch/clip.wav")
[ "$scanned" = "140	ok	$scratch/clip.wav" ] || { echo "packaged tempo-scan printed '$scanned'" >&2; exit 1; }
echo "packaged tempo-scan: $scanned"
# The in-process decoders come with the package's dependencies: an MP3
# needs no ffmpeg.
ffmpeg -nostdin -loglevel error -i "$scratch/clip.wav" "$scratch/clip.mp3"
scanned=$(TEMPO_FFMPEG=/nonexistent "$scratch/root/usr/bin/tempo-scan" --no-progress "$scratch/clip.mp3")
[ "$scanned" = "140	ok	$scratch/clip.mp3" ] || { echo "packaged tempo-scan printed '$scanned' for an MP3" >&2; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
for library in libmpg123-0 libflac12 libogg0 libvorbis0a libopus0; do
  grep -q "$library" <<< "$depends" || { echo "the package does not depend on $library: $depends" >&2; exit 1; }
done
echo "packaged tempo-scan decodes an MP3 itself; depends: $depends"

# The Python module, unpacked, reads the clip's samples as tempo reads the
# file.
python=$build/python3-tempo_${version}_$(dpkg --print-architecture).deb
dpkg -x "$python" "$scratch/python"
from_python=$(PYTHONPATH="$scratch/python/usr/lib/python3/dist-packages" /usr/bin/python3 -c '
import sys, wave, numpy, tempo
with wave.open(sys.argv[1]) as clip:
    samples = numpy.frombuffer(clip.readframes(clip.getnframes()), "<i2").reshape(-1, 2)
    result = tempo.analyse(samples, clip.getframerate(), method="classic")
print(f"bpm:{result.bpm}")' "$scratch/clip.wav")
[ "$from_python" = "$expected" ] || { echo "packaged Python module gave '$from_python'" >&2; exit 1; }
echo "packaged Python module: $from_python; depends: $(dpkg-deb -f "$python" Depends)"

if command -v lintian > /dev/null; then
  lintian --fail-on error,warning "$deb" "$dev" "$python"
  echo "lintian: no findings"
else
  echo "lintian is not installed: the packages were NOT checked by it (apt-get install lintian)" >&2
fi

cmake --install "$build" --prefix "$scratch/prefix"
# Every project header an installed header includes is installed too.
for header in $(cd "$scratch/prefix/include/tempo" && find . -name '*.hpp'); do
  for included in $(sed -n 's/^#include "\(.*\)"$/\1/p' "$scratch/prefix/include/tempo/$header"); do
    [ -f "$scratch/prefix/include/tempo/$included" ] ||
      { echo "installed $header includes $included, which is not installed" >&2; exit 1; }
  done
done
cmake -S tests/consumer -B "$scratch/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$scratch/prefix"
cmake --build "$scratch/consumer"
consumed=$("$scratch/consumer/consumer" "$scratch/clip.wav")
[ "$consumed" = "$expected" ] || { echo "consumer printed '$consumed'" >&2; exit 1; }
echo "consumer project: $consumed"
