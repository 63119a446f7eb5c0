#!/usr/bin/env bash
# Obtains the Debian source packages of zlib (with minizip), libpng1.6 and
# libjpeg-turbo through a private apt configuration (the machine's own apt
# setup is left alone) and cross-builds them as static libraries for one
# target, i686 (the default) or x86_64.
#
# The result lands in a cache outside the clone, keyed by the target, the
# source package versions and this script, and the prefix path is printed on
# the last line:
#   DEPS_PREFIX=$(scripts/build-deps.sh [i686|x86_64] | tail -n1)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
target=${1:-i686}
triple=$(skin_triple "$target")
cache=${SKIN_INSTALLER_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/skin-installer}
cc=${triple}-gcc-posix
ar=${triple}-ar
jobs=$(nproc)

mkdir -p "$cache/apt/lists/partial" "$cache/apt/archives/partial" "$cache/src"

log() { echo "[deps] $*" >&2; }

# The Debian mirror this machine's own apt uses: the first URI of a deb822
# sources file, else the first "deb" line of sources.list.
mirror_of_machine() {
  local f uri
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    # Only stanzas that carry Debian's own suites (not a vendor's repository).
    uri=$(awk 'BEGIN{RS=""} /Suites:[^\n]*bookworm([ \t\n]|$)/ && !/security/ {
                 if (match($0, /URIs:[ \t]*[^ \t\n]+/)) { u=substr($0, RSTART, RLENGTH); sub(/URIs:[ \t]*/, "", u); print u; exit } }' "$f")
    [[ -n $uri ]] && { echo "$uri"; return; }
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] || continue
    uri=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i !~ /^\[/) { if ($(i+1) ~ /^bookworm$/) { print $i; exit } break } }' "$f")
    [[ -n $uri ]] && { echo "$uri"; return; }
  done
}
mirror=${SKIN_DEBIAN_MIRROR:-$(mirror_of_machine)}
[[ -n $mirror ]] || { log "no Debian bookworm mirror found in /etc/apt (set SKIN_DEBIAN_MIRROR)"; exit 1; }

sources="$cache/apt/sources.sources"
cat > "$sources" <<SRC
Types: deb-src
URIs: $mirror
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC

apt_opts=(-o Dir::Etc::SourceList="$sources" -o Dir::Etc::SourceParts=/dev/null
          -o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache="$cache/apt"
          -o Dir::State::status=/dev/null -o APT::Sandbox::User=root)

# The index is refreshed at most once a day; an offline machine with a warm
# cache keeps working with what it has.
stamp="$cache/apt/updated"
if [[ ! -f "$stamp" ]] || [[ -n $(find "$stamp" -mmin +1440) ]]; then
  log "refreshing the source index"
  if apt-get -q "${apt_opts[@]}" update >&2; then touch "$stamp"
  elif ! ls "$cache/src"/*.dsc >/dev/null 2>&1; then log "apt update failed"; exit 1
  fi
fi

pkgs=(zlib libpng1.6 libjpeg-turbo)
dscs=()
for p in "${pkgs[@]}"; do
  ver=$(apt-cache "${apt_opts[@]}" showsrc "$p" 2>/dev/null | awk '/^Version:/{print $2; exit}')
  if [[ -z "$ver" ]]; then
    # No index (offline): fall back to the newest source already downloaded.
    dsc=$(ls -1 "$cache/src/${p}_"*.dsc 2>/dev/null | sort -V | tail -n1 || true)
    [[ -n "$dsc" ]] || { log "no source for $p"; exit 1; }
  else
    dsc="$cache/src/${p}_${ver#*:}.dsc"
    if [[ ! -f "$dsc" ]]; then
      log "downloading $p $ver"
      (cd "$cache/src" && apt-get -q "${apt_opts[@]}" source --download-only "$p=$ver" >&2)
    fi
  fi
  dscs+=("$dsc")
done

key=$( { echo "$triple"; for d in "${dscs[@]}"; do basename "$d"; done; cat "$0"; } | sha256sum | cut -c1-16)
prefix="$cache/prefix-$target-$key"
if [[ -f "$prefix/.complete" ]]; then
  echo "$prefix"
  exit 0
fi

work="$cache/work-$key"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix/include/minizip" "$prefix/lib"

unpack() { # dsc dir
  (cd "$work" && dpkg-source --no-check -x "$1" "$2" >&2)
}

toolchain="$here/../cmake/toolchain-$target-mingw.cmake"
cflags="-O2 -DNDEBUG"

# --- zlib and minizip: compiled by hand, zlib's own build renames zconf.h in
# the source tree and always makes a DLL too.
log "building zlib and minizip"
unpack "${dscs[0]}" zlib
z="$work/zlib"
zsrc=(adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees trees uncompr zutil)
mkdir -p "$work/zobj"
for f in "${zsrc[@]}"; do
  $cc $cflags -c "$z/$f.c" -I"$z" -o "$work/zobj/$f.o" &
done
wait
$ar rcs "$prefix/lib/libz.a" "$work/zobj/"*.o
cp "$z/zlib.h" "$z/zconf.h" "$prefix/include/"

mz="$z/contrib/minizip"
# Debian's minizip switches password support off; the payload needs it.
grep -Eq '^[[:space:]]*#[[:space:]]*define[[:space:]]+NOUNCRYPT' "$mz/unzip.c" || { log "NOUNCRYPT define not found in unzip.c"; exit 1; }
sed -Ei 's/^[[:space:]]*#[[:space:]]*define[[:space:]]+NOUNCRYPT.*$//' "$mz/unzip.c"
if grep -Eq 'define[[:space:]]+NOUNCRYPT' "$mz/unzip.c"; then log "could not remove NOUNCRYPT"; exit 1; fi
mkdir -p "$work/mzobj"
for f in ioapi unzip zip iowin32; do
  $cc $cflags -c "$mz/$f.c" -I"$prefix/include" -I"$mz" -o "$work/mzobj/$f.o" &
done
wait
$ar rcs "$prefix/lib/libminizip.a" "$work/mzobj/"*.o
cp "$mz/ioapi.h" "$mz/unzip.h" "$mz/zip.h" "$mz/iowin32.h" "$mz/crypt.h" "$prefix/include/minizip/"

zlib_args=(-DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a")

# --- libpng, with Debian's patches (many are security fixes).
log "building libpng"
unpack "${dscs[1]}" libpng
cmake -S "$work/libpng" -B "$work/libpng-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DDEPS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_TOOLS=OFF \
  -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON "${zlib_args[@]}" >&2
cmake --build "$work/libpng-build" -j "$jobs" >&2
cmake --install "$work/libpng-build" >&2

# --- libjpeg-turbo; SIMD needs nasm and skin images are small, so plain C.
log "building libjpeg-turbo"
unpack "${dscs[2]}" libjpeg-turbo
cmake -S "$work/libjpeg-turbo" -B "$work/jpeg-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DDEPS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF >&2
cmake --build "$work/jpeg-build" -j "$jobs" --target jpeg-static >&2
cp "$work/jpeg-build/libjpeg.a" "$prefix/lib/"
cp "$work/libjpeg-turbo/jpeglib.h" "$work/libjpeg-turbo/jmorecfg.h" "$work/libjpeg-turbo/jerror.h" \
   "$work/jpeg-build/jconfig.h" "$prefix/include/"

rm -rf "$work"
touch "$prefix/.complete"
log "dependencies ready in $prefix"
echo "$prefix"
