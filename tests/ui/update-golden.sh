#!/usr/bin/env bash
# Rewrites tests/ui/golden/scene.png from the current drawing code.
# Run after a deliberate change of how the controls draw; inspect the
# picture before committing it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake --build "$build" --target test_ui
mkdir -p "$root/tests/ui/golden"
export WINEPREFIX=$(grep -E '^SKIN_WINEPREFIX:' "$build/CMakeCache.txt" | cut -d= -f2-)
SKIN_UPDATE_GOLDEN=1 bash "$root/scripts/wine-run.sh" "$build/bin/test_ui.exe" \
  --gtest_filter=GoldenTest.*
