#!/usr/bin/env bash
# The packaging tool's pictures of a skin are the installer window itself:
# the sample package runs under Wine on Xvfb, and its ready, unticked and
# finished states on screen equal, pixel for pixel, what
# `mkinstaller --render-skin` draws for the sample skin (composited over the
# display's black, as the screen shows a per-pixel-alpha window).
# Pictures stay in <build>/test-artifacts/render_skin/.
#   render_skin_test.sh BUILD_DIR WINEPREFIX
set -euo pipefail
build=$1
export WINEPREFIX=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
run() { "$root/scripts/wine-run.sh" "$@"; }

source "$root/scripts/wine-session.sh"
target=$(skin_pe_target "$build/bin/installer.exe")
skin_wine_env "$target"
[[ -n "${DISPLAY:-}" ]] || skin_session_start "$target"

art=$build/test-artifacts/render_skin
rm -rf "$art"
mkdir -p "$art/rendered"
work=$(mktemp -d /tmp/skin-render.XXXXXX)
installer_pid=
product='HKLM\Software\XingChen\starfall'
forget() {  # a first installation proposes the default folder, as the tool draws it
  "$SKIN_WINE" reg delete "$product" /f /reg:32 >/dev/null 2>&1 || true
  "$SKIN_WINE" reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\XingChenstarfall' \
    /f /reg:32 >/dev/null 2>&1 || true
}
cleanup() {
  [[ -n "$installer_pid" ]] && kill "$installer_pid" 2>/dev/null || true
  forget
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

W=$("$SKIN_WINE" winepath -w "$work" 2>/dev/null)
A=$("$SKIN_WINE" winepath -w "$art/rendered" 2>/dev/null)
run "$build/bin/mkinstaller.exe" --stub "$build/bin/installer.exe" --config "$root/sample/app.txt" \
  --skin "$root/sample/skin" --client "$build/sample/client" --out "$W\\setup.exe" >/dev/null ||
  fail "sample package not built"
run "$build/bin/mkinstaller.exe" --render-skin "$root/sample/skin" --stub "$build/bin/installer.exe" \
  --config "$root/sample/app.txt" --out "$A" >/dev/null || fail "--render-skin failed"
for s in ready unticked installing finished failed; do
  [[ -s "$art/rendered/$s.png" ]] || fail "no picture of the $s state"
  [[ "$(identify -format '%wx%h' "$art/rendered/$s.png")" == 612x412 ]] || fail "$s.png is not 612x412"
done

forget
"$root/scripts/wine-run.sh" "$work/setup.exe" >"$art/installer.log" 2>&1 &
installer_pid=$!  # wine-run.sh execs Wine: the installer itself
skin_settled_window "$installer_pid" "星辰纪元" || fail "installer window did not appear"
ox=$((X + 6)) oy=$((Y + 6))

# The window as the screen shows it, once it has settled (a button fades in
# when shown): two shots a moment apart that agree.
shot() {
  local previous=$art/$1.previous.png
  import -window root -crop "612x412+$X+$Y" +repage "$previous"
  for _ in $(seq 1 40); do
    sleep 0.25
    import -window root -crop "612x412+$X+$Y" +repage "$art/$1.png"
    [[ "$(compare -metric AE "$previous" "$art/$1.png" null: 2>&1)" == 0 ]] && break
    cp "$art/$1.png" "$previous"
  done
  rm -f "$previous"
}
# same STATE: the screen's picture equals the rendered one over black. The
# PNG holds straight alpha, so a partly transparent pixel (the shadow, the
# rounded corners) may come back one level off; nothing may differ by more.
same() {
  convert "$art/rendered/$1.png" -background black -flatten "$art/$1.expected.png"
  local worst differ
  worst=$(convert "$art/$1.expected.png" "$art/$1.png" -compose difference -composite \
            -separate -format '%[fx:round(maxima*255)] ' info: | tr ' ' '\n' | sort -n | tail -n1)
  if ((worst > 1)); then
    differ=$(compare -metric AE -fuzz 0.5% "$art/$1.expected.png" "$art/$1.png" "$art/$1.diff.png" 2>&1 || true)
    fail "$1: $differ pixels differ, by up to $worst levels (see $art/$1.diff.png)"
  fi
}
click() { xdotool mousemove $((ox + $1)) $((oy + $2)) click 1; }
away() { xdotool mousemove 5 5; }

away; shot ready; same ready
click 26 313; away; shot unticked; same unticked   # the agreement box
click 26 313; away
click 300 200; away                                # start: the sample installs
for _ in $(seq 1 150); do
  [[ -f "$WINEPREFIX/drive_c/Program Files (x86)/XingChen/starfall/uninst.dat" ||
     -f "$WINEPREFIX/drive_c/Program Files/XingChen/starfall/uninst.dat" ]] && break
  sleep 0.2
done
shot finished; same finished
echo "render_skin: the rendered ready, unticked and finished states equal the screen"
