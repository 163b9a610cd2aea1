#!/usr/bin/env bash
# Draws the options window's icon (resource 132) at 16 and 32 pixels with ImageMagick: a light
# sheet with a ticked box and two lines of text, in the colours of the tray icon. The PNGs are
# committed; run this again only when the picture changes:
#   resources/dialogs/draw_icon132.sh resources/dialogs
set -euo pipefail
out=${1:-.}
draw() {
    local size=$1 s
    s=$(awk "BEGIN { print $size / 16 }")
    p() { awk "BEGIN { printf \"%.2f\", $1 * $s }"; }
    convert -size "${size}x${size}" xc:none \
        -fill '#fffddb' -stroke '#b07800' -strokewidth "$(p 1)" \
        -draw "roundrectangle $(p 1.5),$(p 1.5) $(p 14.5),$(p 14.5) $(p 2),$(p 2)" \
        -fill white -stroke '#000080' -strokewidth "$(p 1)" \
        -draw "rectangle $(p 3.5),$(p 4.5) $(p 7.5),$(p 8.5)" \
        -fill none -stroke '#008000' -strokewidth "$(p 1.5)" \
        -draw "polyline $(p 4),$(p 6.5) $(p 5.5),$(p 8) $(p 9),$(p 3)" \
        -stroke '#000080' -strokewidth "$(p 1.2)" \
        -draw "line $(p 9),$(p 7) $(p 12.5),$(p 7)" \
        -draw "line $(p 3.5),$(p 11.5) $(p 12.5),$(p 11.5)" \
        "PNG32:$out/icon132_$size.png"
}
draw 16
draw 32
