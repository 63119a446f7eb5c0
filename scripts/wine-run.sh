#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's test environment:
# a private 32-bit prefix, no Mono/Gecko prompts, no menu builder, and the
# zh_CN.UTF-8 locale (code page 936, Chinese file names and fonts).
#   wine-run.sh [--prefix DIR] program.exe [args...]
set -euo pipefail

if [[ "${1:-}" == --prefix ]]; then
  : "${WINEPREFIX:=$2}"
  shift 2
fi
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/skin-installer/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

if [[ ! -f "$WINEPREFIX/.skin-ready" ]]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [[ ! -f "$WINEPREFIX/.skin-ready" ]]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
      [[ -f "$WINEPREFIX/system.reg" ]] || { echo "wine-run: could not create $WINEPREFIX" >&2; exit 1; }
      touch "$WINEPREFIX/.skin-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi

if [[ -z "${DISPLAY:-}" ]] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$@"
fi
exec wine "$@"
