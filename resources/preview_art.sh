#!/usr/bin/env bash
# Contact sheet of the generated art for docs/icons.png: every image
# enlarged without smoothing on a checkerboard (transparency shows), and at
# real size on a few taskbar colours. Needs ImageMagick; the build does not.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
art="$here/art"
out="${1:-$(dirname "$here")/docs/icons.png}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# One enlarged tile: image $1 scaled to a 256-pixel square over a checkerboard.
tile() {
    local src="$1" label="$2" dst="$3"
    convert -size 256x256 pattern:checkerboard \
        \( "$src" -filter point -resize 256x256 \) -composite -alpha off \
        -gravity south -background white -splice 0x22 -font DejaVu-Sans -pointsize 15 -fill black \
        -annotate +0+2 "$label" "$dst"
}

labels=("32x32 8-bit" "16x16 8-bit" "32x32 32-bit" "16x16 32-bit" "32x32 24-bit" "16x16 24-bit"
        "16x16 4-bit")
row1=()
for i in 0 1 2 3 4 5 6; do
    tile "$art/main_xp.ico[$i]" "201: ${labels[$i]}" "$tmp/m$i.png"
    row1+=("$tmp/m$i.png")
done
tile "$art/main_old.ico" "202: 16x16 4-bit" "$tmp/old.png"

row2=("$tmp/old.png")
row3=()
n=0
for f in "$art"/button*_*.ico; do
    name="$(basename "$f" .ico)"
    tile "$f" "$((301 + n)), $((1301 + n)): ${name#*_}" "$tmp/b$n.png"
    tile "${f%.ico}.bmp" "bitmap $((401 + n))" "$tmp/p$n.png"
    row2+=("$tmp/b$n.png")
    row3+=("$tmp/p$n.png")
    n=$((n + 1))
done

# Real size on taskbar-like grounds: Windows 2000 grey, XP blue, dark.
strip() {
    local bg="$1" dst="$2"
    local args=(-size 400x40 "xc:$bg")
    local x=8
    for s in "$art/main_xp.ico[3]" "$art/main_xp.ico[6]" "$art/main_old.ico" \
             "$art"/button*_*.ico; do
        args+=("$s" -geometry "+$x+12" -composite)
        x=$((x + 24))
    done
    args+=("$art/main_xp.ico[2]" -geometry "+$((x + 8))+4" -composite)
    convert "${args[@]}" -filter point -resize 200% "$dst"
}
strip '#d4d0c8' "$tmp/s1.png"
strip '#1a8fe6' "$tmp/s2.png"
strip '#202020' "$tmp/s3.png"

convert -background white \
    \( "${row1[@]}" +smush 8 \) \
    \( "${row2[@]}" +smush 8 \) \
    \( "${row3[@]}" +smush 8 \) \
    \( "$tmp/s1.png" "$tmp/s2.png" "$tmp/s3.png" -smush 4 \) \
    -gravity west -smush 12 -bordercolor white -border 8 \
    -define png:exclude-chunks=date,time "$out"
echo "wrote $out"
