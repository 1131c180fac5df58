#!/usr/bin/env bash
# Captures what an end user sees of the splash window: one picture during the
# fade-in and two after it (the strip running), each of the whole screen and of
# the window alone (also enlarged three times).
#
#   scripts/screenshots.sh OUTDIR [TITLE -- COMMAND ARGS...]
#
# COMMAND is started under Wine (from OUTDIR) and must show a window titled
# TITLE; without them the splash demo program of the build is shown. A
# full-screen window of the build (tests/backdrop.exe) lies beneath it and
# shows a desktop picture, or white with SCREENSHOTS_BACKDROP=white.
# Writes OUTDIR/{fade,after1,after2}{,-window,-window-x3}.png, the program's
# output and exit code (program-output.txt, program-exit.txt), and prints the
# window's geometry as "geometry WxH+X+Y".
#
# It runs on a virtual display of its own without a window manager, and in a
# Wine prefix of its own (build/wineprefix-screens, or -screens64 on the
# 64-bit path, whose programs come from build/windows64), so that the window sits
# where and as large as it would on a desktop (a window manager of the
# display's own may enlarge windows), and so that it can run beside the tests.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:?usage: screenshots.sh OUTDIR [TITLE -- COMMAND ARGS...]}"
shift
# shellcheck source=scripts/host.sh
source "$here/scripts/host.sh"
[ -n "${BOOTSTRAP_WINE_BITS:-}" ] || host_choose screenshots >/dev/null || exit 2
build="$here/build/$(host_windows_preset)"
title="splashdemo"
command=("$build/tests/splashdemo.exe" 4000)
if [ $# -gt 0 ]; then
  title="$1"
  shift
  [ "${1:-}" = "--" ] && shift
  command=("$@")
fi
[ -e "${command[0]}" ] && command[0]="$(realpath "${command[0]}")"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

suffix=""
[ "$BOOTSTRAP_WINE_BITS" = 32 ] || suffix=64
export WINEPREFIX="${SCREENSHOTS_WINEPREFIX:-$here/build/wineprefix-screens$suffix}"
winenv_arch "$BOOTSTRAP_WINE_BITS"
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
# What lies under the window: a desktop picture (a sky, a sun and a hill, so
# that the panel's translucency and corners show), or plain white for pixel
# checks (SCREENSHOTS_BACKDROP=white). Wine's screen device context does not
# see the X root, so the picture is shown by a full-screen Wine window.
backdrop="${SCREENSHOTS_BACKDROP:-desktop}"
backdropexe="$build/tests/backdrop.exe"
picture=()
if [ "$backdrop" = desktop ]; then
  convert -size 1920x1080 gradient:'#5b86b8'-'#1f3a5c' \
    -fill '#f2c14e' -draw 'circle 1010,520 1010,380' \
    -fill '#e9eef4' -draw 'polygon 0,640 620,500 1120,560 1920,700 1920,1080 0,1080' \
    -fill '#3f7a4a' -draw 'polygon 0,900 900,760 1920,880 1920,1080 0,1080' \
    -type truecolor BMP3:"$out/backdrop.bmp"
  picture=("Z:${out//\//\\}\\backdrop.bmp")
fi
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

# findwindow TITLE: sets geometry to the shown window's "WxH+X+Y" as the X
# server has it, waiting up to 30 s; false when none appeared.
findwindow() {
  local line id info x y w h
  geometry=""
  for _ in $(seq 1 600); do
    line="$(xwininfo -root -tree 2>/dev/null | grep -aF "\"$1\"" | grep -aE '[0-9]+x[0-9]+\+' | head -1 || true)"
    if [ -n "$line" ]; then
      id="$(awk '{print $1}' <<<"$line")"
      if xwininfo -id "$id" 2>/dev/null | grep -q "Map State: IsViewable"; then
        info="$(xwininfo -id "$id")"
        x="$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")"
        y="$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")"
        w="$(awk '/Width:/ {print $2}' <<<"$info")"
        h="$(awk '/Height:/ {print $2}' <<<"$info")"
        geometry="${w}x${h}+${x}+${y}"
        return 0
      fi
    fi
    sleep 0.05
  done
  return 1
}

(cd "$out" && exec wine "$backdropexe" 600000 "${picture[@]}" >/dev/null 2>&1) &
pids+=($!)
findwindow backdrop || { echo "screenshots: the backdrop window did not appear" >&2; exit 1; }
# Time to paint it.
sleep 0.5

(cd "$out" && exec wine "${command[@]}" >"$out/program-output.txt" 2>&1) &
program=$!

if ! findwindow "$title"; then
  echo "screenshots: no window titled \"$title\" appeared" >&2
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  exit 1
fi
echo "geometry $geometry"

# The fade runs for about 0.6 s from the first paint, which comes as the
# window is shown; the X window can be mapped a moment before Wine has put
# the first step on it (SCREENSHOTS_FADE_DELAY, seconds).
sleep "${SCREENSHOTS_FADE_DELAY:-0.15}"
shot fade
sleep 1.5
shot after1
sleep 0.3
shot after2

status=0
wait "$program" || status=$?
echo "$status" >"$out/program-exit.txt"
