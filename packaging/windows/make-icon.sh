#!/usr/bin/env bash
# Makes resources/AppIcon.ico for the Windows programs: the 16 and 32 pixel
# pictures are the window's own resources/AppIcon.png; the 48 and 256 pixel
# ones (Explorer's large icons, the Start menu at high DPI) are the same
# picture drawn again at 256 pixels, since a 32 pixel one blown up blurs.
# Run by hand after changing the picture; the build uses the committed file.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The radio waves: arcs around the feed at (164, 78), as polylines.
arc() {
    awk -v r="$1" 'BEGIN { printf "polyline"; for (a = -76; a <= -14; a += 2) {
        t = a * 3.14159265 / 180; printf " %.1f,%.1f", 164 + r * cos(t), 78 + r * sin(t) } }'
}

# The dish: a disc with a disc carved out of its upper right.
"$convert" -size 256x256 xc:none -fill '#EBF0F5' -draw 'circle 108,124 108,40' \
    \( -size 256x256 xc:none -fill black -draw 'circle 138,94 138,16' \) -compose DstOut -composite "$tmp/dish.png"
"$convert" -size 256x256 xc:none -fill '#183A70' -draw 'roundrectangle 0,0 255,255 34,34' \
    "$tmp/dish.png" -compose Over -composite \
    -fill '#B4BEC8' -draw 'rectangle 96,176 111,212' -draw 'rectangle 56,206 135,223' \
    -stroke '#EBF0F5' -strokewidth 13 -draw 'stroke-linecap round line 100,144 158,84' \
    -stroke none -fill '#FABE28' -draw 'circle 164,78 164,62' \
    -fill none -stroke '#FABE28' -strokewidth 11 \
    -draw "stroke-linecap round stroke-linejoin round $(arc 44)" \
    -draw "stroke-linecap round stroke-linejoin round $(arc 68)" \
    -depth 8 "PNG32:$tmp/256.png"
"$convert" "$tmp/256.png" -filter Lanczos -resize 48x48 "$tmp/48.png"
"$convert" "$here/resources/AppIcon.png" -resize 16x16 "$tmp/16.png"
"$convert" "$tmp/16.png" "$here/resources/AppIcon.png" "$tmp/48.png" "$tmp/256.png" -depth 8 "$here/resources/AppIcon.ico"
identify "$here/resources/AppIcon.ico"
