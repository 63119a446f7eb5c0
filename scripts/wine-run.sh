#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's environment (see
# wine-env.sh): a private prefix of the program's own architecture, no
# Mono/Gecko prompts, no menu builder, the zh_CN.UTF-8 locale.
#   wine-run.sh [--prefix DIR] [--arch i686|x86_64] program [args...]
# Without --arch the target is the prefix's own, else the program's (from
# its PE header), else i686. A prefix is never used for the other target.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

arch=
while (($#)); do
  case ${1:-} in
    --prefix) : "${WINEPREFIX:=$2}"; shift 2 ;;
    --arch) arch=$2; shift 2 ;;
    *) break ;;
  esac
done
(($#)) || { echo "wine-run: no program given" >&2; exit 2; }
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/skin-installer/wineprefix-$(skin_wine_arch "${arch:-i686}")}

have=$(skin_prefix_target "$WINEPREFIX")
[[ -n $arch ]] || arch=$have
[[ -n $arch || ! -f $1 ]] || arch=$(skin_pe_target "$1" || true)
arch=${arch:-i686}
if [[ -n $have && $have != "$arch" ]]; then
  echo "wine-run: $WINEPREFIX is a $(skin_wine_arch "$have") prefix, not one for $arch programs" >&2
  exit 2
fi
skin_wine_env "$arch"

if [[ ! -f "$WINEPREFIX/.skin-ready" ]]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [[ ! -f "$WINEPREFIX/.skin-ready" ]]; then
      "$SKIN_WINE" wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
      [[ -f "$WINEPREFIX/system.reg" ]] || { echo "wine-run: could not create $WINEPREFIX" >&2; exit 1; }
      touch "$WINEPREFIX/.skin-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi

if [[ -z "${DISPLAY:-}" ]] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$SKIN_WINE" "$@"
fi
exec "$SKIN_WINE" "$@"
