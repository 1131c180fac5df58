#!/usr/bin/env bash
# Captures what an end user sees of the splash window: one picture during the
# fade-in and two after it (the strip running), each of the whole screen and of
# the window alone (also enlarged three times).
#
#   scripts/screenshots.sh OUTDIR [TITLE -- COMMAND ARGS...]
#
# COMMAND is started under Wine (from OUTDIR) and must show a window titled
# TITLE; without them the splash demo program of the build is shown.
# Writes OUTDIR/{fade,after1,after2}{,-window,-window-x3}.png, the program's
# output and exit code (program-output.txt, program-exit.txt), and prints the
# window's geometry as "geometry WxH+X+Y".
#
# It runs on a virtual display of its own without a window manager, and in a
# Wine prefix of its own (build/wineprefix-screens), so that the window sits
# where and as large as it would on a desktop (a window manager of the
# display's own may enlarge windows), and so that it can run beside the tests.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:?usage: screenshots.sh OUTDIR [TITLE -- COMMAND ARGS...]}"
shift
title="splashdemo"
command=("$here/build/windows/tests/splashdemo.exe" 4000)
if [ $# -gt 0 ]; then
  title="$1"
  shift
  [ "${1:-}" = "--" ] && shift
  command=("$@")
fi
[ -e "${command[0]}" ] && command[0]="$(realpath "${command[0]}")"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

export WINEPREFIX="${SCREENSHOTS_WINEPREFIX:-$here/build/wineprefix-screens}"
export WINEARCH=win32
export LANG="${BOOTSTRAP_WINE_LANG:-C.UTF-8}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
pids=()
stop() {
  wineserver -k >/dev/null 2>&1 || true
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap stop EXIT
for n in $(seq 141 190); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$n"
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
# A desktop-like backdrop, so the window's edges show against it.
convert -size 1920x1080 gradient:'#5b86b8'-'#1f3a5c' "$out/backdrop.png"
display -window root "$out/backdrop.png" >/dev/null 2>&1 || true
rm -f "$out/backdrop.png"
mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "screenshots: booting Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
fi
wineserver -p >/dev/null 2>&1 &
pids+=($!)
wine cmd /c exit >/dev/null 2>&1 || true

shot() {  # shot NAME: the whole screen, then the window's rectangle of it
  import -window root "$out/$1.png"
  convert "$out/$1.png" -crop "$geometry" +repage "$out/$1-window.png"
  convert "$out/$1-window.png" -filter point -resize 300% "$out/$1-window-x3.png"
}

(cd "$out" && exec wine "${command[@]}" >"$out/program-output.txt" 2>&1) &
program=$!

# The window is known by its title; its geometry as the X server has it.
geometry=""
for _ in $(seq 1 600); do
  line="$(xwininfo -root -tree 2>/dev/null | grep -aF "\"$title\"" | grep -aE '[0-9]+x[0-9]+\+' | head -1 || true)"
  if [ -n "$line" ]; then
    id="$(awk '{print $1}' <<<"$line")"
    if xwininfo -id "$id" 2>/dev/null | grep -q "Map State: IsViewable"; then
      info="$(xwininfo -id "$id")"
      x="$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")"
      y="$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")"
      w="$(awk '/Width:/ {print $2}' <<<"$info")"
      h="$(awk '/Height:/ {print $2}' <<<"$info")"
      geometry="${w}x${h}+${x}+${y}"
      break
    fi
  fi
  sleep 0.05
done
if [ -z "$geometry" ]; then
  echo "screenshots: no window titled \"$title\" appeared" >&2
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  exit 1
fi
echo "geometry $geometry"

# The fade runs for about 0.6 s from the first paint, which comes as the
# window is shown.
shot fade
sleep 1.5
shot after1
sleep 0.3
shot after2

status=0
wait "$program" || status=$?
echo "$status" >"$out/program-exit.txt"
