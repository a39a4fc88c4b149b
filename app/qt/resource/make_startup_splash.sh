#!/bin/sh
# Draws the start-up picture kalvex_splash.png (committed beside this script; run it again
# after changing the drawing): a camera path of small view cones over a cloud of tracked
# points, the program's name, and a light strip at the bottom for the start-up messages,
# which the splash screen writes there in black. Needs ImageMagick and the DejaVu fonts.
set -eu
cd "$(dirname "$0")"
w=520 h=300
# Points of a scene: a fixed pseudo-random cloud (same picture on every run).
points=$(awk 'BEGIN {
  s = 12345
  for (i = 0; i < 140; ++i) {
    s = (s * 1103515245 + 12345) % 2147483648; x = 40 + (s % 440)
    s = (s * 1103515245 + 12345) % 2147483648; y = 150 + (s % 95)
    printf "circle %d,%d %d,%d ", x, y, x + 2, y
  }
}')
# The camera path: an arc of view cones looking down at the cloud.
cameras=$(awk 'BEGIN {
  for (i = 0; i < 9; ++i) {
    t = i / 8; x = 70 + 380 * t; y = 130 - 25 * sin(3.14159 * t)
    printf "polygon %d,%d %d,%d %d,%d ", x, y, x - 9, y - 14, x + 9, y - 14
    if (i > 0) printf "line %d,%d %d,%d ", px, py, x, y
    px = x; py = y
  }
}')
convert -size "${w}x${h}" gradient:'#1d2b3a-#3b5a78' \
  -fill '#9fd3ff' -stroke none -draw "$points" \
  -fill '#ffb347' -stroke '#ffb347' -strokewidth 2 -draw "$cameras" \
  -stroke none -fill white -font DejaVu-Sans-Bold -pointsize 44 -annotate +36+58 'Kalvex' \
  -font DejaVu-Sans -pointsize 15 -annotate +40+82 'camera tracking 1.6' \
  -fill '#e8edf2' -draw "rectangle 0,$((h - 34)) $w,$h" \
  -depth 8 -strip kalvex_splash.png
