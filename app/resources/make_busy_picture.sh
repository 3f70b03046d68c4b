#!/bin/sh
# Draws the busy window's picture, busy_picture.jpg: 260 × 151, a dark blue ground with a
# light outline emblem (two pages and a copy arrow in a ring) and one line of lettering along
# the bottom edge; the window lays its progress bar (56, 112, 161 × 16) just above the text.
# Baseline JPEG, 3 components, 96 dpi. Needs ImageMagick and the DejaVu fonts.
# Usage: app/resources/make_busy_picture.sh [output.jpg]
set -eu
out=${1:-$(dirname "$0")/busy_picture.jpg}
text='Пожалуйста, подождите, идёт копирование...'
line='#c8dcff'

convert -size 260x151 gradient:'#0a2a6e'-'#04123a' \
    -fill none -stroke "$line" -strokewidth 2 \
    -draw 'circle 130,56 130,14' \
    -strokewidth 1 -stroke '#7fa6e6' -draw 'circle 130,56 130,20' \
    -stroke "$line" -strokewidth 2 \
    -draw 'polyline 104,36 104,80 128,80 128,46 118,36 104,36' \
    -draw 'polyline 118,36 118,46 128,46' \
    -draw 'polyline 134,32 134,76 158,76 158,42 148,32 134,32' \
    -draw 'polyline 148,32 148,42 158,42' \
    -strokewidth 1 \
    -draw 'line 108,52 122,52' -draw 'line 108,58 122,58' -draw 'line 108,64 122,64' \
    -draw 'line 138,50 152,50' -draw 'line 138,56 152,56' -draw 'line 138,62 152,62' \
    -strokewidth 2 -draw 'line 112,90 146,90' \
    -fill "$line" -stroke none -draw 'polygon 146,85 154,90 146,95' \
    -font DejaVu-Sans-Condensed -pointsize 11 -density 72 -fill '#e8f0ff' -stroke none \
    -gravity south -annotate +0+4 "$text" \
    -gravity northwest -fill none -stroke '#2c4f9a' -strokewidth 1 -draw 'rectangle 0,0 259,150' \
    -strip -colorspace sRGB -type TrueColor -interlace none -sampling-factor 1x1 \
    -quality 95 -units PixelsPerInch -density 96 \
    "$out"
