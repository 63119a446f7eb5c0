# Sourced by the scripts that run programs under Wine: starts an Xvfb display
# and a persistent wineserver for one prefix, and stops both on exit.
#   WINEPREFIX=... source scripts/wine-session.sh; skin_session_start TARGET
# TARGET (i686 or x86_64) is the prefix's architecture; without it, the
# prefix's own or i686.
_skin_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$_skin_root/scripts/wine-env.sh"
_skin_xvfb_pid=

skin_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [[ -n "$_skin_xvfb_pid" ]]; then kill "$_skin_xvfb_pid" 2>/dev/null || true; fi
}

skin_session_start() {
  local n target=${1:-}
  [[ -n $target ]] || target=$(skin_prefix_target "$WINEPREFIX")
  skin_wine_env "${target:-i686}" || return 1
  for n in $(seq 91 160); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    _skin_xvfb_pid=$!
    for _ in $(seq 1 50); do
      [[ -e /tmp/.X11-unix/X$n ]] && break
      sleep 0.1
    done
    if kill -0 "$_skin_xvfb_pid" 2>/dev/null && [[ -e /tmp/.X11-unix/X$n ]]; then
      export DISPLAY=":$n"
      break
    fi
    _skin_xvfb_pid=
  done
  [[ -n "${DISPLAY:-}" ]] || { echo "no Xvfb display could be started" >&2; return 1; }
  trap skin_session_stop EXIT
  # Creates the prefix on first use, then keeps one server for all programs.
  "$_skin_root/scripts/wine-run.sh" --arch "$SKIN_TARGET" cmd /c exit 0 >/dev/null 2>&1 || true
  wineserver -w || true
  wineserver -p || { echo "wineserver did not start" >&2; return 1; }
  "$SKIN_WINE" wineboot >/dev/null 2>&1 || true
}

# Prints the id of a program's main window once it is shown (empty after
# 30 s). Wine also names a 1x1 helper window after it: only a window at
# least 600 pixels wide counts.
#   window=$(skin_find_window PID TITLE)
skin_find_window() {
  local w WIDTH
  for _ in $(seq 1 150); do
    for w in $(xdotool search --pid "$1" --name "$2" 2>/dev/null || true); do
      WIDTH=$(xdotool getwindowgeometry --shell "$w" 2>/dev/null | sed -n 's/^WIDTH=//p')
      if ((${WIDTH:-0} >= 600)); then echo "$w"; return 0; fi
    done
    sleep 0.2
  done
}

# The same, once the window has settled, with its geometry: sets WINDOW, X,
# Y, WIDTH and HEIGHT (the outer window, frame included). Wine may replace a
# window's X window shortly after showing it (for per-pixel alpha), so one
# that is gone a second later is looked up again. False when none settles.
#   skin_settled_window PID TITLE || fail ...
skin_settled_window() {
  local w geometry
  for _ in $(seq 1 10); do
    w=$(skin_find_window "$1" "$2")
    [[ -n $w ]] || return 1
    sleep 1
    if geometry=$(xdotool getwindowgeometry --shell "$w" 2>/dev/null); then
      eval "$geometry"
      WINDOW=$w
      return 0
    fi
  done
  return 1
}
