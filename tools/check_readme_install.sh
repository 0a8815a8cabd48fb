#!/usr/bin/env bash
# The README's commands in the order it gives them, on a fresh
# build/release: the demo workflow (the tool, a clip, bpm:128), then
# cmake --install into a scratch prefix instead of /usr/local. What the
# demo built is installed whole and runs; the Python module, which the
# demo does not build, is left out whole (no folder tempo that Python
# would import as an empty package); built afterwards, the next install
# takes it in and it imports from the prefix.
#   tools/check_readme_install.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The commands as the README writes them, each the first line that begins
# so inside a code block, in the README's order.
command_of() {
  awk -v start="$1" '/^```/ { inside = !inside; next } inside && index($0, start) == 1 { sub(/ +#.*/, ""); print; exit }' README.md
}
demo=$(command_of "cmake --workflow --preset demo")
install=$(command_of "cmake --install build/release")
[ "$demo" = "cmake --workflow --preset demo" ] || { echo "README: no demo command ('$demo')" >&2; exit 1; }
[[ $install == "cmake --install build/release --prefix /usr/local" ]] ||
  { echo "README: no install command ('$install')" >&2; exit 1; }
[ "$(grep -n -F -x -m1 "$demo" README.md | cut -d: -f1)" -lt "$(grep -n -F -m1 "$install" README.md | cut -d: -f1)" ] ||
  { echo "README: the install comes before the demo" >&2; exit 1; }

rm -rf build/release
out=$(CMAKE_BUILD_PARALLEL_LEVEL=2 $demo 2>&1) || { echo "$out"; echo "the demo failed" >&2; exit 1; }
[ "$(tail -n 1 <<< "$out")" = "bpm:128" ] || { echo "$out"; echo "the demo did not end with bpm:128" >&2; exit 1; }
prefix=$scratch/prefix
${install/\/usr\/local/$prefix} > "$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; echo "cmake --install after the demo failed" >&2; exit 1; }
line=$("$prefix/bin/tempo" build/release/demo-128bpm.wav)
[ "$line" = "bpm:128" ] || { echo "the installed tempo printed '$line'" >&2; exit 1; }
scanned=$("$prefix/bin/tempo-scan" --no-progress build/release/demo-128bpm.wav)
[ "$scanned" = "128	ok	build/release/demo-128bpm.wav" ] || { echo "the installed tempo-scan printed '$scanned'" >&2; exit 1; }
for page in tempo.1.gz tempo-scan.1.gz; do
  [ -f "$prefix/share/man/man1/$page" ] || { echo "no man page $page" >&2; exit 1; }
done
leftover=$(find "$prefix" -path '*python*' | head -n 1)
[ -z "$leftover" ] || { echo "a Python package without its module: $leftover" >&2; exit 1; }
echo "after the demo, cmake --install installed tempo ($line), tempo-scan and the man pages, and no Python package"

# Built afterwards, the module comes with the next install.
# (Where the build found pybind11: the cache then says where it goes.)
if grep -q '^TEMPO_PYTHON_INSTALL_DIR:' build/release/CMakeCache.txt; then
  CMAKE_BUILD_PARALLEL_LEVEL=2 cmake --build build/release --target tempo_python > "$scratch/build.log" 2>&1 ||
    { cat "$scratch/build.log"; echo "the Python module did not build" >&2; exit 1; }
  ${install/\/usr\/local/$prefix} > "$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; echo "cmake --install with the module failed" >&2; exit 1; }
  package=$(find "$prefix" -type d -name tempo -path '*packages*')
  from_python=$(cd "$scratch" && PYTHONPATH=$package/.. /usr/bin/python3 -c '
import sys, tempo
assert tempo.__file__.startswith(sys.argv[1]), tempo.__file__
result = tempo.analyse_file(sys.argv[2], method="classic")
print(f"bpm:{result.bpm}")' "$prefix" "$OLDPWD/build/release/demo-128bpm.wav")
  [ "$from_python" = "bpm:128" ] || { echo "the installed module gave '$from_python'" >&2; exit 1; }
  echo "built afterwards, the Python module was installed and imports from the prefix ($from_python)"
fi
