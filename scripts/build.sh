#!/usr/bin/env bash
# Sets up the machine (when allowed), builds the dependencies (cached) and
# the project for one target or both:
#   scripts/build.sh [i686|x86_64|all]      (default i686)
# The build tree is build/ for i686 and build-x64/ for x86_64; BUILD_DIR
# overrides it when one target is built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"
what=${1:-i686}
if [[ $what == all ]]; then targets=($(skin_targets_all)); else targets=("$what"); fi

if [[ "${SKIP_SETUP:-0}" != 1 ]]; then
  bash "$root/scripts/setup-machine.sh"
fi
for target in "${targets[@]}"; do
  skin_triple "$target" >/dev/null
  build=$(skin_build_dir "$target")
  if ((${#targets[@]} == 1)); then build=${BUILD_DIR:-$build}; fi
  deps=$(bash "$root/scripts/build-deps.sh" "$target" | tail -n1)
  if [[ ! -f "$build/build.ninja" ]] || ! grep -qF "$deps" "$build/CMakeCache.txt" 2>/dev/null; then
    cmake -S "$root" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$target-mingw.cmake" \
      -DDEPS_PREFIX="$deps" -DCMAKE_BUILD_TYPE=Release
  fi
  cmake --build "$build" -j "$(nproc)"
done
