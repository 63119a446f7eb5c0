#!/usr/bin/env bash
# Builds the sample installer from the build tree: the installer stub, the
# sample configuration and skin, and the sample client assembled by the
# build (<build>/sample/client). Extra arguments go to mkinstaller
# (for example --zip-beside or --base-url URL).
#   scripts/make-sample-installer.sh [out.exe] [mkinstaller flags...]
# Environment: BUILD_DIR (default build/), WINEPREFIX (default: that build
# tree's test prefix).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=$build/sample/setup.exe
if (($#)) && [[ $1 != --* ]]; then out=$1; shift; fi

for f in "$build/bin/installer.exe" "$build/bin/mkinstaller.exe" "$build/sample/client/client.exe"; do
  [[ -f $f ]] || { echo "make-sample-installer: $f is missing; build first (scripts/build.sh)" >&2; exit 1; }
done
mkdir -p "$(dirname "$out")"
export MKINSTALLER_EXE=$build/bin/mkinstaller.exe
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
exec "$root/tools/mkinstaller" --stub "$build/bin/installer.exe" --config "$root/sample/app.txt" \
  --skin "$root/sample/skin" --client "$build/sample/client" --out "$out" "$@"
