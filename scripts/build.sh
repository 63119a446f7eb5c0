#!/usr/bin/env bash
# Sets up the machine (when allowed), builds the dependencies (cached) and
# the project. The build tree is $BUILD_DIR, build/ by default.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

if [[ "${SKIP_SETUP:-0}" != 1 ]]; then
  bash "$root/scripts/setup-machine.sh"
fi
deps=$(bash "$root/scripts/build-deps.sh" | tail -n1)

if [[ ! -f "$build/build.ninja" ]] || ! grep -qF "$deps" "$build/CMakeCache.txt" 2>/dev/null; then
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" \
    -DDEPS_PREFIX="$deps" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" -j "$(nproc)"
