#!/usr/bin/env bash
# The libraries of the Windows build (SQLite, libmpg123, libFLAC, libogg,
# libvorbis, libopus and TagLib), built for x86_64-w64-mingw32 from the
# Debian source packages the Linux build's libraries come from, and from
# nothing else:
#   - fetched by apt-get from the archive this machine uses, through a
#     deb-src entry of their own (the machine's URIs, suites and keyring)
#     kept with apt's lists in CACHE_DIR, so the machine's apt setup is not
#     changed and no root is needed; apt checks every file against the
#     archive's signed index;
#   - unpacked by dpkg-source, which checks each .dsc's signature with the
#     keys of Debian's developers (debian-keyring) and each file against
#     it; where the archive lacks a file the .dsc names (mpg123's upstream
#     signature, .orig.tar.bz2.asc), the .dsc's signature is checked here,
#     every other file against its SHA-256, and the package is unpacked and
#     patched as dpkg-source would;
#   - built with the same flags every time into CACHE_DIR/KEY/prefix,
#     where KEY stands for the package versions, this script and the
#     compilers: a later build with the same key finds the libraries there
#     and builds nothing.
# Each library is built as Debian builds it for Linux (the same build
# system, options and flags, the Linux-only ones aside), so that a stream
# is decoded to the same samples on both systems. SQLite, libFLAC, libogg,
# libvorbis and libopus are static; libmpg123 (LGPL 2.1) is a DLL, and so
# is TagLib, two of whose files are LGPL 2.1 alone (its MPL option covers
# the rest only). Each package's debian/copyright, upstream licence files
# and the name of its source go to prefix/licenses/PACKAGE.
# Prints the prefix on its last line; what it does goes to standard error,
# each step's output to CACHE_DIR/KEY/logs.
#   tools/windows_deps.sh CACHE_DIR
# Environment: TEMPO_DEPS_JOBS (compile jobs, 2), TEMPO_DEBIAN_SOURCES (the
# machine's deb822 sources, /etc/apt/sources.list.d/debian.sources).
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 CACHE_DIR" >&2; exit 2; }
mkdir -p "$1"
cache=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
script="$here/tools/windows_deps.sh"
jobs=${TEMPO_DEPS_JOBS:-2}
machine_sources=${TEMPO_DEBIAN_SOURCES:-/etc/apt/sources.list.d/debian.sources}
packages=(sqlite3 mpg123 flac libogg libvorbis opus taglib)
host=x86_64-w64-mingw32
cc=$host-gcc-posix
cxx=$host-g++-posix
# The flags every library starts from: optimised as Debian's are (-O2),
# without its hardening (stack protector, fortify), which mingw would
# need libssp for and which changes no result.
base_cflags="-O2"
keyrings=(/usr/share/keyrings/debian-keyring.gpg /usr/share/keyrings/debian-nonupload.gpg
  /usr/share/keyrings/debian-maintainers.gpg)

say() { echo "windows deps: $*" >&2; }
die() { say "$*"; exit 1; }

for tool in apt-get dpkg-source gpgv flock tclsh make "$cc" "$cxx" cmake ninja pkg-config; do
  command -v "$tool" > /dev/null || die "$tool is missing (see .ci/run for the packages)"
done
[ -f /usr/share/keyrings/debian-keyring.gpg ] || die "debian-keyring is missing: the signatures cannot be checked"
[ -f "/usr/$host/lib/libz.a" ] || die "zlib for mingw is missing (apt-get install libz-mingw-w64-dev)"
[ -f /usr/include/utf8cpp/utf8/checked.h ] || die "utfcpp is missing (apt-get install libutfcpp-dev)"

# One build at a time in a cache.
exec 9> "$cache/lock"
flock 9

# apt, pointed at a state of its own: the deb-src entry and its lists.
apt_dir=$cache/apt
apt_options=(-o "Dir::Etc::SourceList=$apt_dir/none.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o "APT::Get::Only-Source=true")
# As root apt would hand the download to its own user, who cannot write
# here; root then fetches itself, which it would do anyway, without the warning.
[ "$(id -u)" -eq 0 ] && apt_options+=(-o "APT::Sandbox::User=root")
prepare_apt() {
  [ -r "$machine_sources" ] || die "$machine_sources is missing: no archive to fetch from"
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  local entry=$apt_dir/sources.list.d/tempo-deb-src.sources
  # The machine's own entries, for source packages.
  sed -E 's/^Types:.*/Types: deb-src/' "$machine_sources" > "$entry.new"
  if ! cmp -s "$entry.new" "$entry" || ! compgen -G "$apt_dir/lists/*Sources*" > /dev/null; then
    mv "$entry.new" "$entry"
    say "reading the archive's source index"
    apt-get "${apt_options[@]}" -qq update >&2 || die "apt-get update failed"
  else
    rm "$entry.new"
  fi
}

# The version apt-get source fetches of source package $1.
source_version() {
  local dsc
  dsc=$(apt-get "${apt_options[@]}" -qq --print-uris source "$1" 2> /dev/null | grep -o "[^ ]*\.dsc " | head -1)
  [ -n "$dsc" ] || die "the archive has no source package $1"
  dsc=${dsc% }
  dsc=${dsc#"$1"_}
  echo "${dsc%.dsc}"
}

# Everything a build's result depends on besides the packages: this
# script, the compilers and the other packages it builds with.
build_inputs() {
  sha256sum < "$script"
  "$cc" --version | head -1
  "$cxx" --version | head -1
  dpkg-query -W -f '${Package} ${Version}\n' libz-mingw-w64-dev libutfcpp-dev mingw-w64-x86-64-dev 2> /dev/null || true
}

# The names, sizes and SHA-256 sums a .dsc lists ("SUM SIZE NAME" lines).
dsc_files() { sed -n '/^Checksums-Sha256:/,/^[^ ]/{/^ /p}' "$1" | sed 's/^ //'; }

# Fetches source package $1 at version $2 into the current folder: apt
# checks each file against the archive's signed index, and keeps only
# those that pass.
fetch() {
  apt-get "${apt_options[@]}" -qq source --download-only "$1=$2" > "$logs/$1.fetch.log" 2>&1 || true
  [ -f "${1}_$2.dsc" ] || die "could not fetch $1 $2 (see $logs/$1.fetch.log)"
}

# Unpacks source package $1 $2 (fetched into the current folder) as
# folder $3, signatures and sums checked.
unpack() {
  local dsc=${1}_$2.dsc sum size name missing=no
  while read -r sum size name; do [ -e "$name" ] || missing=yes; done < <(dsc_files "$dsc")
  if [ $missing = no ]; then
    dpkg-source --require-valid-signature --require-strong-checksums -x "$dsc" "$3" > "$logs/$1.unpack.log" 2>&1 ||
      die "dpkg-source refused $dsc (see $logs/$1.unpack.log)"
  else
    unpack_by_hand "$1" "$dsc" "$3"
  fi
}

# As dpkg-source -x for a 3.0 (quilt) package of which the archive lacks
# the upstream signature: the .dsc's own signature, every other file's
# SHA-256 as the signed .dsc gives it, then the upstream tarball, the
# debian folder and its patches in order.
unpack_by_hand() {
  local package=$1 dsc=$2 target=$3 signed=$work/$1.dsc.signed sum size name keyring orig="" debian=""
  local gpgv_options=()
  for keyring in "${keyrings[@]}"; do [ -f "$keyring" ] && gpgv_options+=(--keyring "$keyring"); done
  gpgv "${gpgv_options[@]}" --output "$signed" "$dsc" > "$logs/$package.unpack.log" 2>&1 ||
    die "the signature of $dsc does not verify (see $logs/$package.unpack.log)"
  grep -qx 'Format: 3.0 (quilt)' "$signed" || die "$dsc is not a 3.0 (quilt) package"
  while read -r sum size name; do
    case $name in
      *.asc) [ -e "$name" ] || { say "$name is not in the archive: $package's tarball is checked against the signed .dsc alone"; continue; } ;;
      *.orig.tar.*) orig=$name ;;
      *.debian.tar.*) debian=$name ;;
      *) die "$dsc names $name, which this script does not unpack by hand" ;;
    esac
    [ -e "$name" ] || die "$name is missing"
    [ "$(stat -c %s "$name")" = "$size" ] && echo "$sum  $name" | sha256sum -c --status ||
      die "$name does not match its SHA-256 in $dsc"
  done < <(dsc_files "$signed")
  [ -n "$orig" ] && [ -n "$debian" ] || die "$dsc lacks its upstream or debian tarball"
  mkdir "$target"
  tar -xf "$orig" --strip-components=1 -C "$target"
  rm -rf "$target/debian"
  tar -xf "$debian" -C "$target"
  local patch
  while read -r patch; do
    case $patch in ''|'#'*) continue ;; *' '*) die "$package's patch '$patch' has options" ;; esac
    patch -d "$target" -p1 -F 0 -N -t -s --no-backup-if-mismatch < "$target/debian/patches/$patch" >> "$logs/$package.unpack.log" 2>&1 ||
      die "$package's patch $patch does not apply"
  done < <([ -f "$target/debian/patches/series" ] && cat "$target/debian/patches/series")
}

# Runs a build step, its output in the package's log.
step() {
  local package=$1
  shift
  "$@" >> "$logs/$package.log" 2>&1 || die "building $package failed at: $* (see $logs/$package.log)"
}

# Runs the configure script of folder $2 for package $1 in the current
# folder, for Windows, with the arguments after them.
cross_configure() {
  local package=$1 source=$2
  shift 2
  step "$package" "$source/configure" --host=$host --build="$build_type" --prefix="$prefix" CC="$cc" CXX="$cxx" "$@"
}

build_libogg() {
  cross_configure libogg "$1" CFLAGS="$base_cflags" --disable-shared --enable-static
  step libogg make -j"$jobs"
  step libogg make install
}

# Debian's libvorbis is built with the flags its configure chooses for
# x86 Linux, -ffast-math among them; for Windows it would choose others,
# so they are given here, followed by the base flags as Debian's follow them.
build_libvorbis() {
  cross_configure libvorbis "$1" CFLAGS="-O3 -Wall -Wextra -ffast-math -mno-ieee-fp -D_REENTRANT -fsigned-char $base_cflags" \
    --disable-shared --enable-static --with-pic
  # Only the library: Debian's patch touches the tests' Makefile.am, and
  # make would want automake to read it again.
  step libvorbis make -j"$jobs" -C lib
  step libvorbis make -C lib install
  step libvorbis make -C include install
  step libvorbis make install-pkgconfigDATA
}

# Opus's configure adds -D_FORTIFY_SOURCE=2 unless it is defined already;
# mingw's checks would need libssp, and change no result.
build_opus() {
  cross_configure opus "$1" CFLAGS="$base_cflags -D_FORTIFY_SOURCE=0" --enable-custom-modes --disable-shared --enable-static \
    --disable-doc --disable-extra-programs
  step opus make -j"$jobs"
  step opus make install
}

build_flac() {
  cross_configure flac "$1" CFLAGS="$base_cflags" --disable-shared --enable-static --disable-rpath --disable-altivec \
    --enable-sse --disable-programs --disable-examples --disable-cpplibs --disable-doxygen-docs --disable-xmms-plugin \
    --disable-stack-smash-protection
  # Only the library: Debian's patch touches the documents' Makefile.am.
  step flac make -j"$jobs" -C src/libFLAC
  step flac make -C src/libFLAC install
  step flac make -C include install
  # A static libFLAC is used with FLAC__NO_DLL defined, or its header
  # asks for the functions from a DLL.
  sed -i 's/^Cflags: .*/& -DFLAC__NO_DLL/' "$prefix/lib/pkgconfig/flac.pc"
}

# libmpg123 alone, as a DLL; the player and its other libraries are not built.
build_mpg123() {
  cross_configure mpg123 "$1" CFLAGS="$base_cflags" --enable-shared --disable-static
  step mpg123 make -j"$jobs" src/libmpg123/libmpg123.la
  step mpg123 make install-libLTLIBRARIES lib_LTLIBRARIES=src/libmpg123/libmpg123.la install-includeHEADERS \
    install-nodist_includeHEADERS nodist_include_HEADERS=src/libmpg123/mpg123.h install-pkgconfigDATA \
    pkgconfig_DATA=libmpg123.pc
}

# The amalgamation (sqlite3.c) is made on this machine by the package's own
# tools, then compiled for Windows with the options Debian's library has.
build_sqlite3() {
  mkdir native
  (cd native && step sqlite3 "$1/configure" --disable-tcl && step sqlite3 make sqlite3.c)
  local options=(-O2 -fno-strict-aliasing -DNDEBUG -DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA
    -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS -DSQLITE_ENABLE_RTREE=1 -DSQLITE_SOUNDEX=1
    -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_OMIT_LOOKASIDE=1 -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_ALLOW_ROWID_IN_VIEW
    -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 -DSQLITE_ENABLE_LOAD_EXTENSION -DSQLITE_ENABLE_JSON1
    -DSQLITE_LIKE_DOESNT_MATCH_BLOBS -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_FTS3_TOKENIZER=1 -DSQLITE_USE_URI=1
    -DSQLITE_MAX_SCHEMA_RETRY=25 -DSQLITE_ENABLE_PREUPDATE_HOOK -DSQLITE_ENABLE_SESSION -DSQLITE_ENABLE_STMTVTAB
    -DSQLITE_MAX_VARIABLE_NUMBER=250000 -DSQLITE_TEMP_STORE=1 -DSQLITE_ENABLE_MATH_FUNCTIONS -DSQLITE_ENABLE_FTS4
    -DSQLITE_ENABLE_FTS5)
  step sqlite3 "$cc" "${options[@]}" -c native/sqlite3.c -o sqlite3.o
  mkdir -p "$prefix/lib/pkgconfig" "$prefix/include"
  step sqlite3 "$host-ar" rcs "$prefix/lib/libsqlite3.a" sqlite3.o
  cp native/sqlite3.h native/sqlite3ext.h "$prefix/include/"
  local version
  version=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' native/sqlite3.h)
  printf '%s\n' "prefix=$prefix" 'libdir=${prefix}/lib' 'includedir=${prefix}/include' '' 'Name: SQLite' \
    'Description: SQL database engine' "Version: $version" 'Libs: -L${libdir} -lsqlite3' 'Cflags: -I${includedir}' \
    > "$prefix/lib/pkgconfig/sqlite3.pc"
}

# TagLib as a DLL that carries its own C++ runtime and zlib (linked
# statically: -static makes the linker take libz.a for -lz), so that it
# needs nothing beside it either.
build_taglib() {
  step taglib cmake -S "$1" -B . -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchains/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=None -DCMAKE_C_FLAGS="$base_cflags -DNDEBUG" \
    -DCMAKE_CXX_FLAGS="$base_cflags -DNDEBUG -fvisibility=hidden -fvisibility-inlines-hidden -I/usr/include/utf8cpp" \
    -DCMAKE_SHARED_LINKER_FLAGS="-static -static-libgcc -static-libstdc++" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=ON -DWITH_ASF=ON -DWITH_MP4=ON -DBUILD_TESTING=OFF -DBUILD_EXAMPLES=OFF -DBUILD_BINDINGS=OFF
  step taglib ninja -j"$jobs"
  step taglib ninja install
}

# Each package's debian/copyright, the upstream licence texts it refers
# to, and where its source is, in prefix/licenses/PACKAGE.
keep_licences() {
  local package=$1 source=$2 version=$3 file
  mkdir -p "$prefix/licenses/$package"
  cp "$source/debian/copyright" "$prefix/licenses/$package/copyright"
  printf '%s\n' "Built, unchanged, from the Debian 12 source package $package $version:" \
    "apt-get source $package=$version fetches it from the Debian archive." > "$prefix/licenses/$package/SOURCE.txt"
  for file in COPYING COPYING.Xiph COPYING.LGPL COPYING.MPL LICENSE.md; do
    [ -f "$source/$file" ] && cp "$source/$file" "$prefix/licenses/$package/"
  done
  case $package in flac) rm -f "$prefix/licenses/flac/COPYING.LGPL" ;; esac
}

prepare_apt
declare -A versions
inputs=""
for package in "${packages[@]}"; do
  versions[$package]=$(source_version "$package")
  inputs+="$package ${versions[$package]}"$'\n'
done
key=$( (printf '%s' "$inputs"; build_inputs) | sha256sum | cut -c1-16)
prefix=$cache/$key/prefix
if [ -f "$cache/$key/complete" ]; then
  say "using $prefix"
  echo "$prefix"
  exit 0
fi

# A build stopped half way is begun again.
say "building into $cache/$key (the first build takes a few minutes)"
rm -rf "${cache:?}/$key"
work=$cache/$key/work
logs=$cache/$key/logs
mkdir -p "$work/source" "$prefix" "$logs"
build_type=$(dpkg-architecture -qDEB_BUILD_GNU_TYPE)
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig
unset PKG_CONFIG_PATH
# In dependency order: libogg before what uses it.
for package in libogg libvorbis opus flac mpg123 sqlite3 taglib; do
  version=${versions[$package]}
  start=$SECONDS
  (cd "$work/source" && fetch "$package" "$version" && unpack "$package" "$version" "$package")
  mkdir "$work/$package-build"
  (cd "$work/$package-build" && "build_$package" "$work/source/$package")
  keep_licences "$package" "$work/source/$package" "$version"
  say "$package $version built in $((SECONDS - start)) s"
done
rm -rf "$work"
printf '%s' "$inputs" > "$cache/$key/complete"
# Builds of other keys are of no more use.
for old in "$cache"/*; do
  if [[ $(basename "$old") =~ ^[0-9a-f]{16}$ ]] && [ "$old" != "$cache/$key" ]; then rm -rf "$old"; fi
done
say "done: $prefix"
echo "$prefix"
