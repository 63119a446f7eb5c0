#!/usr/bin/env bash
# The test command: set-up, dependencies, both builds, then the whole suite
# under Wine for every target this machine can run: i686 and x86_64 where
# 32-bit code runs, x86_64 alone where it does not (SKIN_FORCE_X64=1 acts
# as such a machine). The import check covers both targets either way.
# Extra arguments go to ctest (for example -R test_support).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"

bash "$root/scripts/build.sh" all

tested=() skipped=() failed=()
if skin_runs_i686 "$(skin_build_dir i686)/wineprefix"; then
  targets=(i686 x86_64)
  echo "== this machine runs 32-bit Windows programs: testing i686 and x86_64"
else
  targets=(x86_64)
  skipped=(i686)
  echo "== this machine cannot run 32-bit Windows programs ($(skin_i686_why)): testing x86_64 only"
fi

# Programs that are not run here still have their imports checked.
for target in "${skipped[@]}"; do
  build=$(skin_build_dir "$target")
  echo "== $target: import check only"
  ctest --test-dir "$build" --output-on-failure -R '^static_imports(_check)?$' || failed+=("$target imports")
done

for target in "${targets[@]}"; do
  build=$(skin_build_dir "$target")
  echo "== $target: ctest in $build"
  start=$SECONDS
  if (
    export WINEPREFIX=$(grep -E '^SKIN_WINEPREFIX:' "$build/CMakeCache.txt" | cut -d= -f2-)
    unset DISPLAY
    source "$root/scripts/wine-session.sh"
    skin_session_start "$target"
    # A win64 prefix also runs the 32-bit installer where 32-bit code runs:
    # the cross-build test installs with one build and runs the other.
    if [[ $target == x86_64 && " ${targets[*]} " == *" i686 "* ]]; then
      export SKIN_TEST_OTHER_INSTALLER=$(skin_build_dir i686)/bin/installer.exe
    fi
    ctest --test-dir "$build" --output-on-failure "$@"
  ); then tested+=("$target"); else failed+=("$target"); fi
  echo "== $target: $((SECONDS - start)) s"
done

echo "== tested: ${tested[*]:-none}${failed:+; failed: ${failed[*]}}${skipped:+; not runnable here: ${skipped[*]}}"
((${#failed[@]} == 0)) || exit 1
((${#tested[@]} > 0)) || { echo "no target was tested" >&2; exit 1; }
