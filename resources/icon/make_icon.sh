#!/usr/bin/env bash
# Draws the window icon, brelvik-48.png: a 48 x 48 landscape with alpha (a
# light-blue sky, a white sun at the upper right, two green hills) in a rounded
# off-white frame. Run it again after changing a colour or a shape here.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# /usr/local/bin/convert may be a stand-in on some machines.
convert=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The picture inside the frame, 36 x 36, its corners slightly rounded.
"$convert" -size 36x36 gradient:'#5FAEEA'-'#C4E6FB' \
  -fill '#FFF6D0' -draw 'circle 26,10 26,4' \
  -fill '#FFFFFF' -draw 'circle 26,10 26,5' \
  -fill '#6DBE45' -draw 'ellipse 30,40 22,15 0,360' \
  -fill '#3F9A3A' -draw 'ellipse 6,42 22,17 0,360' \
  "$work/scene.png"
"$convert" -size 36x36 xc:none -fill white -draw 'roundrectangle 0,0 35,35 4,4' "$work/mask.png"
"$convert" "$work/scene.png" "$work/mask.png" -alpha off -compose CopyOpacity -composite \
  "$work/scene-rounded.png"

# The frame, then the picture on it.
"$convert" -size 48x48 xc:none \
  -fill '#F7F4EC' -stroke '#8C96A3' -strokewidth 1 \
  -draw 'roundrectangle 1.5,1.5 46.5,46.5 8,8' \
  "$work/scene-rounded.png" -geometry +6+6 -compose Over -composite \
  -define png:color-type=6 "PNG32:$here/brelvik-48.png"
