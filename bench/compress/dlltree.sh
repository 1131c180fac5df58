#!/usr/bin/env bash
# A real tree of the kind a setup carries, made anew for each run and never
# committed: the Windows DLLs of the Wine that scripts/install.sh installs
# (Debian's wine packages), 32-bit ones where the 32-bit Wine is there, else
# the 64-bit ones; whole files in name order, each that still fits in MIB
# MiB.
#   dlltree.sh DIR MIB
# Prints which DLLs it took.
set -euo pipefail
dir="$1" limit=$(($2 * 1048576))
best="" bestbytes=0
for d in /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows \
    /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows; do
    [ -d "$d" ] || continue
    bytes=$(find "$d" -maxdepth 1 -name '*.dll' -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
    # The first (32-bit first) that holds enough, else the largest.
    if [ "$bytes" -ge "$limit" ]; then best="$d" && break; fi
    if [ "$bytes" -gt "$bestbytes" ]; then best="$d" bestbytes="$bytes"; fi
done
[ -n "$best" ] || { echo "dlltree.sh: no Windows DLLs of Wine found (run scripts/install.sh)" >&2; exit 1; }
mkdir -p "$dir"
total=0 count=0
while IFS= read -r f; do
    size=$(stat -c %s "$f")
    [ $((total + size)) -le "$limit" ] || continue
    cp "$f" "$dir/"
    total=$((total + size)) count=$((count + 1))
done < <(find "$best" -maxdepth 1 -name '*.dll' -type f | LC_ALL=C sort)
echo "dll tree: $count DLLs of $best, $((total / 1048576)) MiB"
