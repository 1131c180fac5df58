#!/usr/bin/env bash
# Takes the splash screenshots of a program and checks the final pictures the
# way a person would look at them: the window is a dark panel after the fade,
# the message is there in light grey near the top, and the strip's highlight
# is somewhere else in the second picture after the fade; and the program
# ends cleanly.
#   checkscreenshots.sh OUTDIR TITLE -- COMMAND ARGS...
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$1"
shift
rm -rf "$out"
bash "$here/scripts/screenshots.sh" "$out" "$@" || { echo "FAIL: no screenshots"; exit 1; }

failures=0
check() {  # check DESCRIPTION CONDITION
  if [ "$2" = 1 ]; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi
}
fx() {  # fx FILE EXPRESSION
  convert "$1" -format "%[fx:$2]" info:
}
after1="$out/after1-window.png"
after2="$out/after2-window.png"

check "the window is 580 x 54" "$(fx "$after2" 'w==580 && h==54')"
# Away from the text and the strip, and in the corners, the panel is dark.
for p in "100,40" "560,10" "10,50" "0,0" "579,53" "290,45"; do
  check "dark panel at $p" "$(fx "$after2" "p{$p}.r<0.2 && p{$p}.g<0.2 && p{$p}.b<0.2")"
done
# Light grey text in the message's place, none below it.
count_grey() {  # count_grey FILE GEOMETRY
  convert "$1" -crop "$2" +repage \
    -fx "(r>0.65 && r<0.95 && abs(r-g)<0.12 && abs(g-b)<0.12) ? 1 : 0" \
    -format "%[fx:round(mean*w*h)]" info:
}
text="$(count_grey "$after2" 220x24+180+0)"
check "light grey text near the top ($text pixels)" "$([ "$text" -ge 60 ] && echo 1 || echo 0)"
stray="$(count_grey "$after2" 580x24+0+30)"
check "no grey text below the strip ($stray pixels)" "$([ "$stray" -eq 0 ] && echo 1 || echo 0)"
# The strip: bluish across (40..539, 25..28), nothing of it outside.
check "strip track at its left end" "$(fx "$after2" 'p{41,26}.b > p{41,26}.r + 0.05')"
check "strip track at its right end" "$(fx "$after2" 'p{538,26}.b > p{538,26}.r + 0.05')"
check "nothing left of the strip" "$(fx "$after2" 'p{38,26}.b < 0.1')"
check "nothing below the strip" "$(fx "$after2" 'p{300,30}.b < 0.1')"
# The highlight: where the strip is brightest, in both pictures.
brightest() {  # brightest FILE: x of the brightest strip pixel on row 26
  convert "$1" -crop 500x1+40+26 +repage -colorspace gray txt:- |
    awk -F'[,: ()]+' 'NR>1 { if ($3 + 0 > best) { best = $3 + 0; x = $1 } } END { print x + 0 }'
}
x1="$(brightest "$after1")"
x2="$(brightest "$after2")"
check "the highlight moved between the captures (x $x1, then $x2)" \
  "$([ $(( x1 > x2 ? x1 - x2 : x2 - x1 )) -ge 15 ] && echo 1 || echo 0)"

# Ending through WM_DESTROY (strip stopped, then GDI+ shut down) is clean.
check "the program ended normally (exit code $(cat "$out/program-exit.txt"))" \
  "$([ "$(cat "$out/program-exit.txt")" = 0 ] && echo 1 || echo 0)"

[ "$failures" = 0 ] || exit 1
