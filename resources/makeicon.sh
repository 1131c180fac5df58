#!/usr/bin/env bash
# Makes an icon file of six 32-bit images of 256, 128, 48, 32, 24 and 16
# pixels (the program's images 1 to 6, which a package's icon replaces).
# The two large images are stored as PNG to keep the program small; the
# others as bitmaps, which every Windows version reads.
# Usage: makeicon.sh OUT.ico [colour]   (needs ImageMagick and python3)
set -euo pipefail
out="$1"
colour="${2:-#2f6fd0}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for s in 256 128 48 32 24 16; do
  r=$((s / 8)); m=$((s / 16))
  /usr/bin/convert -size ${s}x${s} xc:none -fill "$colour" \
    -draw "roundrectangle $m,$m $((s - 1 - m)),$((s - 1 - m)) $r,$r" \
    -fill white -draw "rectangle $((s * 3 / 8)),$((s / 4)) $((s * 5 / 8)),$((s * 3 / 4))" \
    -define png:exclude-chunks=date,time PNG32:"$tmp/$s.png"
  # A one-image icon per size gives the bitmap form of the small images.
  /usr/bin/convert "$tmp/$s.png" "$tmp/$s.ico"
done
python3 - "$tmp" "$out" <<'PY'
import struct, sys
tmp, out = sys.argv[1], sys.argv[2]
images = []
for s in (256, 128, 48, 32, 24, 16):
    if s >= 128:
        data = open(f"{tmp}/{s}.png", "rb").read()
    else:
        ico = open(f"{tmp}/{s}.ico", "rb").read()
        size, offset = struct.unpack_from("<II", ico, 6 + 8)
        data = ico[offset:offset + size]
    images.append((s, data))
header = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
directory, body = b"", b""
for s, data in images:
    directory += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset + len(body))
    body += data
open(out, "wb").write(header + directory + body)
PY
