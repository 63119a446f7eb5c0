#!/usr/bin/env bash
# The install benchmark (see bench/bench.py): a copy of the build's test
# prefix on tmpfs, one Xvfb and one persistent wineserver for every run.
#   bash bench/run.sh [--size MiB] [--runs N] [--no-download]
# BENCH_DIR picks the work folder (default /dev/shm/skin-bench; emptied
# first), so that two benchmarks on one machine do not share one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${BENCH_DIR:-/dev/shm/skin-bench}
case $work in
  /?*/?*) ;;
  *) echo "BENCH_DIR must be an absolute path at least two levels deep: $work" >&2; exit 1 ;;
esac
[[ -f $root/build-x64/bin/installer.exe ]] || { echo "build first: SKIP_SETUP=1 bash scripts/build.sh x86_64" >&2; exit 1; }
# The download way needs nginx; installed as setup-machine.sh installs
# packages, where that is possible (bench.py skips that part without it).
if ! command -v nginx >/dev/null && [[ ! -x /usr/sbin/nginx ]] && [[ $(id -u) == 0 ]] && command -v apt-get >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  { apt-get update -q && apt-get install -y -q --no-install-recommends nginx-light; } >&2 ||
    echo "nginx could not be installed: the download way will be skipped" >&2
fi
rm -rf "$work"
mkdir -p "$work"
# The tests' prefix when they have run; else the session makes a fresh one.
if [[ -d $root/build-x64/wineprefix ]]; then cp -a "$root/build-x64/wineprefix" "$work/prefix"; fi
export WINEPREFIX=$work/prefix BENCH_WORK=$work WINEDEBUG=-all
source "$root/scripts/wine-session.sh"
skin_session_start x86_64
# Xvfb has no window manager: Wine would wait two seconds for one at every
# window close. Unmanaged windows, as on a desktop whose manager answers.
"$SKIN_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
if skin_runs_i686; then export BENCH_I686=yes; else export BENCH_I686="no: $_skin_i686_why"; fi
python3 "$root/bench/bench.py" "$@"
