#!/usr/bin/env bash
# Post-link step: writes the executable's final size into its stub size
# record and fails the build when the record is missing, ambiguous, wrong
# after writing, or the file is larger than the size budget.
set -euo pipefail
exe="$1"
budget="${2:-524288}"
export LC_ALL=C
# Marker words 0x53425453 0x5a495342, placeholder, 0x44524345 (little-endian).
offsets=$(grep -obUaP 'STBSBSIZ[\s\S]{4}ECRD' "$exe" | cut -d: -f1 || true)
count=$(printf '%s\n' "$offsets" | grep -c . || true)
if [ "$count" != 1 ]; then
  echo "stampsize: expected one stub size record in $exe, found $count" >&2
  exit 1
fi
size=$(stat -c %s "$exe")
printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((size & 255)) $(((size >> 8) & 255)) $(((size >> 16) & 255)) $(((size >> 24) & 255)))" |
  dd of="$exe" bs=1 seek=$((offsets + 8)) conv=notrunc status=none
recorded=$(od -An -tu4 -j $((offsets + 8)) -N4 "$exe" | tr -d ' ')
after=$(stat -c %s "$exe")
if [ "$recorded" != "$after" ]; then
  echo "stampsize: recorded size $recorded differs from file size $after" >&2
  exit 1
fi
echo "stampsize: $(basename "$exe") is $after bytes (budget $budget)"
if [ "$after" -gt "$budget" ]; then
  echo "stampsize: $(basename "$exe") exceeds the size budget of $budget bytes" >&2
  exit 1
fi
