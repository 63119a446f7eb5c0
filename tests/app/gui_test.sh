#!/usr/bin/env bash
# The installer driven by real input under Wine: xdotool clicks the agreement
# box, the start button, the close button (answering No) and the finish
# button, presses Alt+F4 while installing, and screenshots of the ready,
# unticked, installing and finished states are checked for what must show.
# The screenshots stay in <build>/test-artifacts/app_gui/.
# Runs under tests/net/with-http-server.sh: the package downloads its client,
# and one file is held by the server until this script releases it, so the
# installing state lasts exactly as long as the script looks at it.
#   with-http-server.sh gui_test.sh BUILD_DIR WINEPREFIX
set -euo pipefail
build=$1
export WINEPREFIX=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
run() { "$root/scripts/wine-run.sh" "$@"; }

source "$root/scripts/wine-session.sh"
target=$(skin_pe_target "$build/bin/installer.exe")
skin_wine_env "$target"
if [[ -z "${DISPLAY:-}" ]]; then
  # Standalone: a display and server of our own.
  skin_session_start "$target"
fi

[[ -n "${SKIN_TEST_HTTP_ROOT:-}" ]] || { echo "run through tests/net/with-http-server.sh" >&2; exit 1; }
# The served folder as this side sees it (Z:\x\y\ is /x/y/).
www=$(printf '%s' "${SKIN_TEST_HTTP_ROOT#Z:}" | tr '\\' /)
release() { touch "$www/holdgui.release"; }

art=$build/test-artifacts/app_gui
rm -rf "$art"
mkdir -p "$art"
work=$(mktemp -d /tmp/skin-gui.XXXXXX)
installer_pid=
cleanup() {
  release
  [[ -n "$installer_pid" ]] && kill "$installer_pid" 2>/dev/null || true
  run "$build/bin/make_gui_package.exe" --remove >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
window= ox=0 oy=0

fail() { echo "FAIL: $*" >&2; exit 1; }
W=$("$SKIN_WINE" winepath -w "$work" 2>/dev/null)
run "$build/bin/make_gui_package.exe" "$W\\setup.exe" "$W\\game\\" || fail "package not built"

# (wine-run.sh execs Wine, so $! is the installer's own process.)
# Waits for the installer window; sets window, ox and oy (the client area:
# the window plus its 6-pixel frame; skin coordinates count from there).
find_window() {
  skin_settled_window "$installer_pid" "安装测试游戏gui" || fail "installer window did not appear"
  window=$WINDOW
  ox=$((X + 6)) oy=$((Y + 6))
}
ended() {  # ended PID SECONDS
  for _ in $(seq 1 $(($2 * 5))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.2
  done
  return 1
}
# Keys go through XTEST to the focused window, as a user's would.
keys() { xdotool windowfocus --sync "$1" 2>/dev/null || true; sleep 0.3; xdotool key "$2"; }

# First run: Alt+F4 in the ready state closes the window, which shows the
# key reaches it (so its refusal while installing below means something).
"$root/scripts/wine-run.sh" "$work/setup.exe" >"$art/installer-first.log" 2>&1 &
installer_pid=$!
find_window
keys "$window" alt+F4
ended "$installer_pid" 20 || fail "Alt+F4 did not close the ready window"
installer_pid=

"$root/scripts/wine-run.sh" "$work/setup.exe" >"$art/installer.log" 2>&1 &
installer_pid=$!
find_window
# Centred, with a 600 x 400 content area inside the 6-pixel frame.
read -r sw sh < <(xdotool getdisplaygeometry)
((WIDTH == 612 && HEIGHT == 412)) || fail "window is ${WIDTH}x${HEIGHT}, not 612x412"
((X == (sw - 612) / 2 && Y == (sh - 412) / 2)) || fail "window at $X,$Y is not centred on ${sw}x${sh}"

shot() { import -window root "$art/$1.png"; }
# "#RRGGBB" of a skin point in a screenshot.
pixel() { convert "$art/$1.png" -crop "1x1+$((ox + $2))+$((oy + $3))" -depth 8 txt:- |
            tail -n1 | grep -o '#[0-9A-F]\{6\}'; }
# Family of a colour: the skin uses red for start, green for finish, the
# background blue, cyan for the waiting picture, grey/orange for the bar,
# light grey for the path field.
family() {
  local c=${1#\#} r g b
  r=$((16#${c:0:2})) g=$((16#${c:2:2})) b=$((16#${c:4:2}))
  if ((r > 150 && g < 60 && b < 60)); then echo red
  elif ((g > 100 && r < 60 && b < 60)); then echo green
  elif ((r < 50 && g > 50 && g < 80 && b > 140)); then echo background
  elif ((r < 30 && g > 170 && b > 170)); then echo cyan
  elif ((r > 118 && r < 138 && r == g && g == b)); then echo sink
  elif ((r > 200 && r == g && g == b)); then echo light
  elif ((r > 220 && g > 130 && g < 190 && b < 40)); then echo orange
  else echo "other($1)"; fi
}
expect() {  # expect SHOT X Y FAMILY... (one of them)
  local shot=$1 x=$2 y=$3 got; shift 3
  got=$(family "$(pixel "$shot" "$x" "$y")")
  for want in "$@"; do [[ "$got" == "$want" ]] && return 0; done
  fail "$shot: at ($x,$y) expected $* but found $got"
}
# Light text pixels in a skin rectangle (the theme's text is white).
text_pixels() {
  convert "$art/$1.png" -crop "$4x$5+$((ox + $2))+$((oy + $3))" -colorspace gray \
    -threshold 80% -format '%[fx:mean*w*h]' info: | cut -d. -f1
}
click() { xdotool mousemove $((ox + $1)) $((oy + $2)) click 1; sleep 0.4; }
away() { xdotool mousemove 5 5; sleep 0.6; }

start_x=300 start_y=200   # the start (later finish) button, centred
check_x=26 check_y=313    # the agreement box: bottom offset 40 + browse 30 + 10
close_x=580 close_y=20    # the close button, top right
agree_x=90 agree_y=313    # the agreement text beside the box

away; shot ready
expect ready $start_x $start_y red
expect ready 300 80 background
expect ready 300 340 light        # the path field, no progress bar over it

click $check_x $check_y; away; shot unticked
expect unticked $start_x $start_y background   # start button gone

# The agreement text toggles like the box.
click $agree_x $agree_y; away; shot reticked
expect reticked $start_x $start_y red

# Takes screenshots until the point shows the colour family (ten seconds at
# most: the window paints on its own timer).
shot_until() {  # shot_until SHOT X Y FAMILY
  for _ in $(seq 1 50); do
    shot "$1"
    [[ $(family "$(pixel "$1" "$2" "$3")") == "$4" ]] && return 0
    sleep 0.2
  done
  fail "$1: ($2,$3) never showed $4"
}

click $start_x $start_y
# The held file is being fetched: the installation is under way and stays so
# until release.
for _ in $(seq 1 150); do [[ -f "$www/holdgui.started" ]] && break; sleep 0.2; done
[[ -f "$www/holdgui.started" ]] || fail "the installation did not reach the held file"
shot_until installing 300 340 orange
expect installing $start_x $start_y cyan               # waiting picture
expect installing 300 340 sink orange                  # progress bar
(( $(text_pixels installing 20 313 400 15) > 20 )) || fail "installing: no status text"
# The percentage field ends 20 pixels from the right and is as wide as "100%"
# in its font (more than the skin's 60 pixels); the status line keeps clear.
(( $(text_pixels installing 500 309 80 32) > 20 )) || fail "installing: no percentage"
(( $(text_pixels installing 20 355 400 15) > 20 )) || fail "installing: no size and speed line"

# Alt+F4 while installing is refused; the close button asks, and No goes on.
keys "$window" alt+F4
click $close_x $close_y
# The question shows as a second window of the installer over it; the key
# was handled before the click (input is handled in order), so the window
# still being there when the question shows means Alt+F4 was refused.
dialogs() {
  local n=0 w
  for w in $(xdotool search --onlyvisible --pid "$installer_pid" --name . 2>/dev/null || true); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    ((WIDTH < 600 && HEIGHT > 30)) && n=$((n + 1))
  done
  echo $n
}
for _ in $(seq 1 50); do (($(dialogs) == 1)) && break; sleep 0.2; done
xdotool search --pid "$installer_pid" --name "安装测试游戏gui" >/dev/null ||
  fail "Alt+F4 closed the installing window"
shot confirm
(($(dialogs) == 1)) || fail "no confirmation when closing during installation"
# Wine's message boxes take no X input without a window manager: answer No
# (7) from the Windows side; the helper prints the question's text.
question=$(run "$build/bin/make_gui_package.exe" --answer "安装提示" 7) ||
  fail "the confirmation is not the installer's question"
[[ "$question" == *"中止当前安装"* ]] || fail "unexpected question: $question"
for _ in $(seq 1 50); do (($(dialogs) == 0)) && break; sleep 0.2; done
(($(dialogs) == 0)) || fail "the confirmation stayed after No"
kill -0 "$installer_pid" 2>/dev/null || fail "installer ended after answering No"
[[ -f "$work/game/uninst.dat" ]] && fail "the installation ended though a file is held"
shot_until after-no $start_x $start_y cyan             # still installing

release
for _ in $(seq 1 240); do
  [[ -f "$work/game/uninst.dat" ]] && break
  sleep 0.5
done
[[ -f "$work/game/uninst.dat" ]] || fail "installation did not finish"
away; shot finished
expect finished $start_x $start_y green                # the finish button
expect finished 300 340 background                     # progress bar hidden
# The package holds one damaged entry: the status line tells of it.
(( $(text_pixels finished 20 313 400 15) > 20 )) || fail "finished: no line about the file not installed"
(( $(text_pixels finished 20 355 400 15) == 0 )) || fail "finished: the size line is still shown"

click $start_x $start_y
ended "$installer_pid" 20 || fail "installer still running after finish"
installer_pid=
for _ in $(seq 1 50); do [[ -f "$work/game/started.txt" ]] && break; sleep 0.2; done
[[ -f "$work/game/started.txt" ]] || fail "the finish button did not start the client"
echo "gui test passed; screenshots in $art"
