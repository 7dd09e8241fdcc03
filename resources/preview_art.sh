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

# One enlarged tile: image $1 scaled to a 160-pixel square over a checkerboard.
tile() {
    local src="$1" label="$2" dst="$3"
    convert -size 160x160 pattern:checkerboard \
        \( "$src" -filter point -resize 160x160 \) -composite -alpha off \
        -gravity south -background white -splice 0x22 -font DejaVu-Sans -pointsize 13 -fill black \
        -annotate +0+2 "$label" "$dst"
}

# main_xp.ico: largest first within each depth, the 16-colour image last.
labels=()
for depth in 8 32 24; do
    for size in 32 24 20 16; do
        labels+=("${size}x${size} ${depth}-bit")
    done
done
labels+=("16x16 4-bit")
row1=()
for i in "${!labels[@]}"; do
    tile "$art/main_xp.ico[$i]" "201: ${labels[$i]}" "$tmp/m$i.png"
    row1+=("$tmp/m$i.png")
done

row2=()
i=0
for size in 16 20 24; do
    tile "$art/main_old.ico[$i]" "202: ${size}x${size} 4-bit" "$tmp/old$i.png"
    row2+=("$tmp/old$i.png")
    i=$((i + 1))
done
row3=()
row4=()
n=0
for f in "$art"/button*_*.ico; do
    name="$(basename "$f" .ico)"
    i=0
    for size in 16 20 24 32; do
        tile "$f[$i]" "$((301 + n)): ${name#*_} ${size}" "$tmp/b$n-$i.png"
        if [ "$size" -le 20 ]; then row3+=("$tmp/b$n-$i.png"); else row4+=("$tmp/b$n-$i.png"); fi
        i=$((i + 1))
    done
    tile "${f%.ico}.bmp" "bitmap $((401 + n))" "$tmp/p$n.png"
    row2+=("$tmp/p$n.png")
    n=$((n + 1))
done

# Real size on taskbar-like grounds (Windows 2000 grey, XP blue, dark): the
# tray at 96 DPI, then at 144 DPI.
strip() {
    local bg="$1" dst="$2" size="$3" xp="$4" old="$5" button="$6"
    local args=(-size 400x$((size + 16)) "xc:$bg")
    local x=8
    for s in "$art/main_xp.ico[$xp]" "$art/main_old.ico[$old]"; do
        args+=("$s" -geometry "+$x+8" -composite)
        x=$((x + size + 8))
    done
    for f in "$art"/button*_*.ico; do
        args+=("$f[$button]" -geometry "+$x+8" -composite)
        x=$((x + size + 8))
    done
    convert "${args[@]}" -filter point -resize 200% "$dst"
}
strip '#d4d0c8' "$tmp/s1.png" 16 7 0 0
strip '#1a8fe6' "$tmp/s2.png" 16 7 0 0
strip '#202020' "$tmp/s3.png" 16 7 0 0
strip '#1a8fe6' "$tmp/s4.png" 24 5 2 2

convert -background white \
    \( "${row1[@]}" +smush 8 \) \
    \( "${row2[@]}" +smush 8 \) \
    \( "${row3[@]}" +smush 8 \) \
    \( "${row4[@]}" +smush 8 \) \
    \( "$tmp/s1.png" "$tmp/s2.png" "$tmp/s3.png" "$tmp/s4.png" -smush 4 \) \
    -gravity west -smush 12 -bordercolor white -border 8 \
    -define png:exclude-chunks=date,time "$out"
echo "wrote $out"
