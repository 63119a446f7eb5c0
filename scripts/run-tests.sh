#!/usr/bin/env bash
# The test command: set-up, dependencies, build, then every test under Wine.
# Extra arguments go to ctest (for example -R test_support).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

bash "$root/scripts/build.sh"

export WINEPREFIX=$(grep -E '^SKIN_WINEPREFIX:' "$build/CMakeCache.txt" | cut -d= -f2-)
unset DISPLAY
source "$root/scripts/wine-session.sh"
skin_session_start

ctest --test-dir "$build" --output-on-failure "$@"
