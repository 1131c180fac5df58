#!/usr/bin/env bash
# Takes the splash screenshots of a program over a white desktop and checks
# the pictures the way a person would look at them: the fade is seen (the
# panel is lighter during it than after it), after the fade the rounded
# corners show the white beneath and the panel darkens it to a mid grey, the
# message is there in light grey near the top, and the strip's highlight is
# somewhere else in the second picture after the fade; and the program ends
# cleanly.
#   checkscreenshots.sh OUTDIR TITLE -- COMMAND ARGS...
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$1"
shift
rm -rf "$out"
# The first picture soon after the window shows: one taken after the fade
# would make the fade look missing.
SCREENSHOTS_BACKDROP=white SCREENSHOTS_FADE_DELAY=0.05 bash "$here/scripts/screenshots.sh" "$out" "$@" || { echo "FAIL: no screenshots"; exit 1; }

failures=0
check() {  # check DESCRIPTION CONDITION
  if [ "$2" = 1 ]; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi
}
fx() {  # fx FILE EXPRESSION
  convert "$1" -format "%[fx:$2]" info:
}
fade="$out/fade-window.png"
after1="$out/after1-window.png"
after2="$out/after2-window.png"

check "the window is 580 x 54" "$(fx "$after2" 'w==580 && h==54')"
# The transparent corners show the desktop, not black.
for p in "0,0" "579,0" "0,53" "579,53"; do
  check "white desktop in the corner at $p" "$(fx "$after2" "p{$p}.r>0.97 && p{$p}.g>0.97 && p{$p}.b>0.97")"
done
# Away from the text and the strip the panel darkens the white to a neutral
# mid grey: translucent, not black.
for p in "100,40" "560,10" "20,48" "290,45"; do
  check "mid grey panel at $p" \
    "$(fx "$after2" "p{$p}.r>0.33 && p{$p}.r<0.56 && abs(p{$p}.r-p{$p}.g)<0.03 && abs(p{$p}.g-p{$p}.b)<0.03")"
done
# The fade: below the strip the panel is lighter in the first picture.
panelmean() {  # panelmean FILE
  convert "$1" -crop 540x18+20+33 +repage -colorspace gray -format "%[fx:mean]" info:
}
during="$(panelmean "$fade")"
later="$(panelmean "$after1")"
check "the panel fades in (mean $during during the fade, $later after it)" \
  "$(awk -v a="$during" -v b="$later" 'BEGIN { print (a > b + 0.08) ? 1 : 0 }')"
# Light grey text in the message's place, none below it.
count_grey() {  # count_grey FILE GEOMETRY
  convert "$1" -crop "$2" +repage \
    -fx "(r>0.65 && r<0.95 && abs(r-g)<0.12 && abs(g-b)<0.12) ? 1 : 0" \
    -format "%[fx:round(mean*w*h)]" info:
}
text="$(count_grey "$after2" 220x24+180+0)"
check "light grey text near the top ($text pixels)" "$([ "$text" -ge 60 ] && echo 1 || echo 0)"
stray="$(count_grey "$after2" 540x24+20+30)"
check "no grey text below the strip ($stray pixels)" "$([ "$stray" -eq 0 ] && echo 1 || echo 0)"
# The strip: bluish across (40..539, 25..28), nothing of it outside.
check "strip track at its left end" "$(fx "$after2" 'p{41,26}.b > p{41,26}.r + 0.05')"
check "strip track at its right end" "$(fx "$after2" 'p{538,26}.b > p{538,26}.r + 0.05')"
check "nothing left of the strip" "$(fx "$after2" 'abs(p{38,26}.b-p{38,26}.r) < 0.03')"
check "nothing below the strip" "$(fx "$after2" 'abs(p{300,30}.b-p{300,30}.r) < 0.03')"
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
