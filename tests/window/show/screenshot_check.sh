#!/usr/bin/env bash
# Shows a window of layers under Wine, takes a screenshot of the X display
# and checks that the window's place on the screen shows the renderer's
# picture. Wine on a bare X server (no compositor) shows a per-pixel-alpha
# window's premultiplied colours as they are (as if over black) and lets the
# windows behind show only where the picture is fully transparent; the
# expected picture that window_show writes follows that rule.
#   screenshot_check.sh window_show.exe WINEPREFIX OUTPUT_DIR
set -euo pipefail
exe=$1 prefix=$2 out=$3
root=$(cd "$(dirname "$0")/../../.." && pwd)
[[ -n "${DISPLAY:-}" ]] || { echo "no X display (run through scripts/run-tests.sh)" >&2; exit 1; }
command -v import >/dev/null || { echo "ImageMagick's import is missing" >&2; exit 1; }

rm -rf "$out" && mkdir -p "$out"
winout=$("$root/scripts/wine-run.sh" --prefix "$prefix" winepath -w "$out" 2>/dev/null)
"$root/scripts/wine-run.sh" --prefix "$prefix" "$exe" "$winout" &
pid=$!
finish() {
  touch "$out/done"
  wait "$pid" 2>/dev/null || true
}
trap finish EXIT

for _ in $(seq 1 300); do
  [[ -f "$out/ready" ]] && break
  kill -0 "$pid" 2>/dev/null || { echo "window_show ended before showing its window" >&2; exit 1; }
  sleep 0.1
done
[[ -f "$out/ready" ]] || { echo "window_show did not get ready" >&2; exit 1; }

read -r x y w h < <(tr -d '\r' < "$out/rect.txt")
import -window root "$out/screen.png"
convert "$out/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$out/window.png"
convert "$out/expected.ppm" "$out/expected.png"

# Differing pixels beyond a small colour tolerance; a wrong place, a missing
# window or a wrong picture changes thousands of them.
diff=$(compare -metric AE -fuzz 2% "$out/expected.png" "$out/window.png" "$out/diff.png" 2>&1 || true)
total=$((w * h))
echo "window at ${x},${y} ${w}x${h}: ${diff} of ${total} pixels differ"
[[ "$diff" =~ ^[0-9]+$ ]] || { echo "compare failed: $diff" >&2; exit 1; }
# A few pixels of slack for the edges of the half-transparent area.
(( diff * 1000 <= total )) || { echo "the screen does not show the rendered window" >&2; exit 1; }

# The picture is not trivially black: the opaque red layer is on screen.
rx=$((x + 6 + 70)) ry=$((y + 6 + 55))
pixel=$(convert "$out/screen.png" -format "%[fx:int(255*p{$rx,$ry}.r)],%[fx:int(255*p{$rx,$ry}.g)],%[fx:int(255*p{$rx,$ry}.b)]" info:)
echo "red layer pixel: $pixel"
[[ "$pixel" == "224,48,16" ]] || { echo "the red layer is not where it belongs" >&2; exit 1; }
