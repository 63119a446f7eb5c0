#!/usr/bin/env bash
# Regenerates the installer's own pictures (committed, so builds need no
# ImageMagick): app/frame.png, the default drop-shadow frame that windows
# draw as a nine-cell border of 6 pixels, and app/installer.ico.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/app

# Frame: 20 x 20, a 6-pixel border whose alpha falls off smoothly from the
# content edge outwards (quadratic, rounded corners), black, centre clear.
# The window draws it with per-pixel alpha, so the colour is straight black.
border=6 size=20 peak=0.42
convert -size ${size}x${size} xc:black -alpha set -channel A -fx "
  dx = (i < $border) ? ($border - i - 0.5) : ((i >= w - $border) ? (i - (w - $border) + 0.5) : 0);
  dy = (j < $border) ? ($border - j - 0.5) : ((j >= h - $border) ? (j - (h - $border) + 0.5) : 0);
  d = sqrt(dx*dx + dy*dy) / $border;
  inside = (dx == 0 && dy == 0);
  inside ? 0 : (d >= 1 ? 0 : $peak * (1 - d) * (1 - d))" \
  -define png:color-type=6 -strip "PNG32:$out/frame.png"

# Icon: a rounded blue tile with a white downward arrow, 16/32/48 pixels.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for s in 16 32 48; do
  r=$((s / 6)); m=$((s / 16))
  convert -size ${s}x${s} xc:none \
    -fill '#2b6cd4' -draw "roundrectangle $m,$m $((s - 1 - m)),$((s - 1 - m)) $r,$r" \
    -fill white -draw "polygon $((s * 3 / 8)),$((s / 5)) $((s * 5 / 8)),$((s / 5)) $((s * 5 / 8)),$((s / 2)) $((s * 25 / 32)),$((s / 2)) $((s / 2)),$((s * 13 / 16)) $((s * 7 / 32)),$((s / 2)) $((s * 3 / 8)),$((s / 2))" \
    "PNG32:$tmp/icon$s.png"
done
convert "$tmp/icon16.png" "$tmp/icon32.png" "$tmp/icon48.png" "$out/installer.ico"
echo "wrote $out/frame.png and $out/installer.ico"
