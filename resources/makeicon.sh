#!/usr/bin/env bash
# Makes resources/bootstrap.ico: six 32-bit images of 256, 128, 48, 32, 24 and
# 16 pixels (the icon replacement writes into their identifiers 1 to 6).
# Usage: makeicon.sh OUT.ico [colour]   (needs ImageMagick)
set -euo pipefail
out="$1"
colour="${2:-#2f6fd0}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
files=()
for s in 256 128 48 32 24 16; do
  r=$((s / 8)); m=$((s / 16))
  /usr/bin/convert -size ${s}x${s} xc:none -fill "$colour" \
    -draw "roundrectangle $m,$m $((s - 1 - m)),$((s - 1 - m)) $r,$r" \
    -fill white -draw "rectangle $((s * 3 / 8)),$((s / 4)) $((s * 5 / 8)),$((s * 3 / 4))" \
    -define png:exclude-chunks=date,time PNG32:"$tmp/$s.png"
  files+=("$tmp/$s.png")
done
/usr/bin/convert "${files[@]}" "$out"
