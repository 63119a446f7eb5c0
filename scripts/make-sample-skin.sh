#!/usr/bin/env bash
# Draws the sample installer skin (sample/skin/*.png and theme.txt) with
# ImageMagick 6. The PNGs are committed; run this again only to change them.
#   scripts/make-sample-skin.sh [output-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/sample/skin}
font=${SKIN_FONT:-/usr/share/fonts/truetype/wqy/wqy-microhei.ttc}
[[ -f $font ]] || { echo "make-sample-skin: font $font not found (package fonts-wqy-microhei)" >&2; exit 1; }
command -v convert >/dev/null || { echo "make-sample-skin: ImageMagick's convert is needed" >&2; exit 1; }
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Palette: night-blue body, gold accents, light text.
gold1='#FFE7A3' gold2='#F2B33D' gold3='#B86E12'
ink='#0B1630'
c() { convert "$@"; }
# PNGs without dates or other run-dependent chunks, so a rerun changes nothing.
save() { convert "$1" -strip -define png:exclude-chunks=date,time "PNG32:$2"; }

# --- bg_main.png: 600 x 400, a rounded card with a soft shadow in an 8-pixel
# transparent margin.
W=600 H=400 M=8 R=14
cw=$((W - 2 * M)) ch=$((H - 2 * M))
c -size ${cw}x${ch} gradient:'#1E3A6E'-'#0A1428' "$tmp/body.png"
# Star field and a nebula glow in the upper half.
c -size ${cw}x${ch} xc:none \
  -fill 'rgba(120,170,255,0.35)' -draw "ellipse 430,70 190,90 0,360" \
  -fill 'rgba(255,190,90,0.18)' -draw "ellipse 150,40 160,60 0,360" \
  -blur 0x40 "$tmp/glow.png"
stars=()
seed=7
for i in $(seq 1 90); do
  seed=$(( (seed * 1103515245 + 12345) % 2147483648 ))
  x=$(( seed % cw )); seed=$(( (seed * 1103515245 + 12345) % 2147483648 ))
  y=$(( seed % 230 )); seed=$(( (seed * 1103515245 + 12345) % 2147483648 ))
  a=$(( 30 + seed % 70 ))
  r=$(( seed % 3 == 0 ? 1 : 0 ))
  stars+=(-fill "rgba(255,255,255,0.$a)" -draw "circle $x,$y $((x + r)),$((y + 1))")
done
c -size ${cw}x${ch} xc:none "${stars[@]}" "$tmp/stars.png"
# A planet with a ring on the right.
c -size 260x260 radial-gradient:'#6FA8FF'-'#122A5C' \
  \( -size 260x260 xc:black -fill white -draw "circle 130,130 130,20" \) \
  -alpha off -compose copy_opacity -composite "$tmp/planet.png"
c -size 360x140 xc:none -fill none -stroke 'rgba(255,220,150,0.50)' -strokewidth 2 \
  -draw "ellipse 180,70 168,24 0,360" -stroke 'rgba(255,220,150,0.25)' -strokewidth 6 \
  -draw "ellipse 180,70 160,20 0,360" -background none -rotate -12 "$tmp/ring.png"
# Title block.
c -background none -font "$font" -pointsize 54 -fill "$gold1" -stroke "$gold3" -strokewidth 1 \
  label:'星辰纪元' \( +clone -background "$gold2" -shadow 80x6+0+0 \) +swap \
  -background none -layers merge +repage "$tmp/title.png"
c -background none -font "$font" -pointsize 17 -fill 'rgba(230,238,255,0.85)' \
  label:'启程 · 探索无尽星海' "$tmp/subtitle.png"
# Control panel at the bottom and a gold hairline above it.
c -size ${cw}x150 gradient:'rgba(5,12,28,0.10)'-'rgba(5,12,28,0.78)' "$tmp/panel.png"
c -size ${cw}x1 gradient:none-none -fill 'rgba(242,179,61,0.55)' -draw "line 40,0 $((cw - 40)),0" "$tmp/line.png"
c "$tmp/body.png" "$tmp/glow.png" -composite "$tmp/stars.png" -composite \
  "$tmp/planet.png" -geometry +380+-40 -composite \
  "$tmp/ring.png" -geometry +320+10 -composite \
  "$tmp/title.png" -gravity northwest -geometry +36+42 -composite \
  "$tmp/subtitle.png" -gravity northwest -geometry +44+118 -composite \
  "$tmp/panel.png" -gravity south -geometry +0+0 -composite \
  "$tmp/line.png" -gravity south -geometry +0+150 -composite \
  "$tmp/card.png"
# Round the corners and add a thin light border.
c -size ${cw}x${ch} xc:black -fill white -draw "roundrectangle 0,0 $((cw - 1)),$((ch - 1)) $R,$R" "$tmp/mask.png"
c "$tmp/card.png" "$tmp/mask.png" -alpha off -compose copy_opacity -composite \
  -fill none -stroke 'rgba(160,190,255,0.35)' -strokewidth 1 \
  -draw "roundrectangle 0,0 $((cw - 1)),$((ch - 1)) $R,$R" "$tmp/rounded.png"
c -size ${W}x${H} xc:none -fill 'rgba(0,0,0,0.55)' \
  -draw "roundrectangle $M,$((M + 2)) $((W - M - 1)),$((H - M + 1)) $R,$R" -blur 0x4 "$tmp/shadow.png"
c "$tmp/shadow.png" "$tmp/rounded.png" -geometry +$M+$M -composite "$tmp/bg.png"
save "$tmp/bg.png" "$out/bg_main.png"

# --- logo.png: emblem and name, top left.
c -size 40x40 xc:none -fill "$gold2" -stroke "$gold1" -strokewidth 2 \
  -draw "polygon 20,2 25,15 38,15 27,23 31,37 20,29 9,37 13,23 2,15 15,15" "$tmp/star.png"
c -background none -font "$font" -pointsize 20 -fill '#FFFFFF' label:'星辰互动' "$tmp/logotext.png"
c -size 150x40 xc:none "$tmp/star.png" -geometry +0+0 -composite \
  "$tmp/logotext.png" -gravity west -geometry +46+0 -composite \
  \( +clone -background black -shadow 60x2+0+1 \) +swap -background none -layers merge +repage \
  -gravity center -extent 150x42 "$tmp/logo.png"
save "$tmp/logo.png" "$out/logo.png"

# A frame strip: three frames stacked top to bottom (normal, hover, pressed).
strip() { # out frame0 frame1 frame2
  c "$2" "$3" "$4" -background none -append "$tmp/strip.png"
  save "$tmp/strip.png" "$1"
}

# --- btn_close.png / btn_min.png: 24 x 24 frames.
icon_button() { # name glyph-draw
  local i fills=('rgba(255,255,255,0.00)' 'rgba(255,255,255,0.16)' 'rgba(255,255,255,0.28)')
  local strokes=('rgba(235,240,255,0.85)' '#FFFFFF' "$gold1")
  for i in 0 1 2; do
    c -size 24x24 xc:none -fill "${fills[$i]}" -draw "roundrectangle 0,0 23,23 5,5" \
      -fill none -stroke "${strokes[$i]}" -strokewidth 2 -draw "$2" "$tmp/f$i.png"
  done
  strip "$out/$1" "$tmp/f0.png" "$tmp/f1.png" "$tmp/f2.png"
}
icon_button btn_close.png "line 7,7 16,16 line 16,7 7,16"
icon_button btn_min.png "line 6,12 17,12"

# --- big buttons: 178 x 56 frames with a label.
big_button() { # name label normal-top normal-bottom hover-top hover-bottom
  local i tops=("$3" "$5" "$4") bottoms=("$4" "$6" "$3") dy=(0 0 1)
  for i in 0 1 2; do
    local y=$((3 + ${dy[$i]}))
    c -size 178x56 xc:none \
      \( -size 178x56 xc:none -fill 'rgba(0,0,0,0.45)' -draw "roundrectangle 5,$((y + 4)) 172,$((y + 46)) 22,22" -blur 0x2 \) \
      -composite \
      \( -size 170x46 gradient:"${tops[$i]}"-"${bottoms[$i]}" \
         \( -size 170x46 xc:black -fill white -draw "roundrectangle 0,0 169,45 22,22" \) \
         -alpha off -compose copy_opacity -composite \) \
      -compose over -geometry +4+$y -composite \
      \( -size 150x16 xc:none -fill 'rgba(255,255,255,0.28)' -draw "roundrectangle 0,0 149,15 8,8" \) \
      -geometry +14+$((y + 3)) -composite \
      -fill none -stroke 'rgba(255,248,220,0.85)' -strokewidth 1 \
      -draw "roundrectangle 4,$y 173,$((y + 45)) 22,22" -stroke none \
      -gravity center -font "$font" -pointsize 22 \
      -fill 'rgba(110,50,0,0.55)' -annotate +0+$((dy[i] + 1)) "$2" \
      -fill '#FFFFFF' -annotate +0+$((dy[i] - 1)) "$2" \
      "$tmp/b$i.png"
  done
  strip "$out/$1" "$tmp/b0.png" "$tmp/b1.png" "$tmp/b2.png"
}
big_button btn_start.png '立即安装' '#FFC94D' '#E07B12' '#FFD978' '#FFB347'
big_button btn_finish.png '开始游戏' '#7BE08A' '#1F9D55' '#98F0A5' '#4CC46E'

# --- edit.png: the path field, stretched by its 20-pixel side margins.
c -size 200x30 xc:none -fill 'rgba(4,10,24,0.72)' -stroke 'rgba(150,180,240,0.55)' -strokewidth 1 \
  -draw "roundrectangle 0,0 199,29 6,6" "$tmp/edit.png"
save "$tmp/edit.png" "$out/edit.png"

# --- btn_browse.png: 70 x 30 frames, right of the path field.
for i in 0 1 2; do
  fills=('rgba(255,255,255,0.10)' 'rgba(255,255,255,0.22)' 'rgba(242,179,61,0.45)')
  c -size 70x30 xc:none -fill "${fills[$i]}" -stroke 'rgba(200,215,255,0.65)' -strokewidth 1 \
    -draw "roundrectangle 0,0 69,29 6,6" -stroke none \
    -gravity center -font "$font" -pointsize 13 -fill '#F2F6FF' -annotate +0+$((i == 2 ? 1 : 0)) '更改目录' \
    "$tmp/w$i.png"
done
strip "$out/btn_browse.png" "$tmp/w0.png" "$tmp/w1.png" "$tmp/w2.png"

# --- check.png / checked.png: 13 x 13 frames.
for i in 0 1 2; do
  strokes=('rgba(200,215,255,0.8)' '#FFFFFF' "$gold1")
  c -size 13x13 xc:none -fill 'rgba(4,10,24,0.6)' -stroke "${strokes[$i]}" -strokewidth 1 \
    -draw "roundrectangle 0,0 12,12 2,2" "$tmp/u$i.png"
  c -size 13x13 xc:none -fill "$gold2" -stroke "${strokes[$i]}" -strokewidth 1 \
    -draw "roundrectangle 0,0 12,12 2,2" -fill none -stroke '#FFFFFF' -strokewidth 2 \
    -draw "polyline 3,6 5,9 10,3" "$tmp/k$i.png"
done
strip "$out/check.png" "$tmp/u0.png" "$tmp/u1.png" "$tmp/u2.png"
strip "$out/checked.png" "$tmp/k0.png" "$tmp/k1.png" "$tmp/k2.png"

# --- agree.png and protocol.png: the agreement line beside the check box.
c -background none -font "$font" -pointsize 13 -fill '#D8E2F5' label:'我已阅读并同意' "$tmp/agree.png"
save "$tmp/agree.png" "$out/agree.png"
for i in 0 1 2; do
  colours=("$gold2" "$gold1" '#FFFFFF')
  c -background none -font "$font" -pointsize 13 -fill "${colours[$i]}" label:'《用户许可协议》' "$tmp/p$i.png"
  if (( i > 0 )); then
    pw=$(identify -format '%w' "$tmp/p$i.png") ph=$(identify -format '%h' "$tmp/p$i.png")
    c "$tmp/p$i.png" -fill none -stroke "${colours[$i]}" -strokewidth 1 \
      -draw "line 2,$((ph - 2)) $((pw - 3)),$((ph - 2))" "$tmp/p$i.png"
  fi
done
strip "$out/protocol.png" "$tmp/p0.png" "$tmp/p1.png" "$tmp/p2.png"

# --- copyright.png
c -background none -font "$font" -pointsize 12 -fill 'rgba(200,212,235,0.75)' \
  label:'© 2026 星辰互动娱乐  版权所有' "$tmp/copy.png"
save "$tmp/copy.png" "$out/copyright.png"

# --- waiting.png: shown in the middle while the client is installed.
c -size 280x96 xc:none -fill 'rgba(10,20,44,0.80)' -stroke 'rgba(242,179,61,0.6)' -strokewidth 1 \
  -draw "roundrectangle 0,0 279,95 12,12" -stroke none \
  \( "$tmp/star.png" -resize 36x36 \) -geometry +22+30 -composite \
  -font "$font" -fill "$gold1" -pointsize 20 -annotate +72+44 '精彩即将开启' \
  -fill '#D8E2F5' -pointsize 13 -annotate +72+70 '正在安装游戏文件，请稍候…' "$tmp/wait.png"
save "$tmp/wait.png" "$out/waiting.png"

# --- progress bar: sink, fill and the glowing dot at the fill's end.
c -size 100x10 xc:none -fill 'rgba(4,10,24,0.75)' -stroke 'rgba(150,180,240,0.45)' -strokewidth 1 \
  -draw "roundrectangle 0,0 99,9 4,4" "$tmp/sink.png"
save "$tmp/sink.png" "$out/progress_sink.png"
c -size 100x8 gradient:"$gold1"-"$gold3" \
  \( -size 100x8 xc:black -fill white -draw "roundrectangle 0,0 99,7 3,3" \) \
  -alpha off -compose copy_opacity -composite "$tmp/pos.png"
save "$tmp/pos.png" "$out/progress_pos.png"
c -size 22x22 radial-gradient:'rgba(255,245,210,1)'-'rgba(242,179,61,0)' "$tmp/dot.png"
c "$tmp/dot.png" -fill '#FFFFFF' -draw "circle 11,11 11,8" "$tmp/dot.png"
save "$tmp/dot.png" "$out/progress_dot.png"

# --- theme.txt: UTF-16LE with mark; light text on the dark panel.
printf '{"forecolor":"#FF808080","backcolor":"#FFFFFFFF","textcolor":"#FFF5EEE6"}' |
  iconv -f UTF-8 -t UTF-16LE | { printf '\xFF\xFE'; cat; } > "$out/theme.txt"

echo "sample skin written to $out"
