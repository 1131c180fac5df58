# Sourced by the scripts: a virtual display with a small window manager and
# the project's own Wine prefix with its server kept alive.
#   winenv_start   boots everything once; winenv_stop ends what it started.
# Everything is started and stopped by pid (or wineserver -k for our prefix).

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/host.sh
source "$here/scripts/host.sh"
[ -n "${BOOTSTRAP_WINE_BITS:-}" ] || host_choose winenv >/dev/null || return 2
winenv_arch "$BOOTSTRAP_WINE_BITS"
# A fixed locale: the tests rely on the ANSI code page 1252 unless they set another.
export LANG="${BOOTSTRAP_WINE_LANG:-C.UTF-8}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
winenv_pids=()

winenv_start() {
  local n
  if [ -z "${DISPLAY:-}" ] || [ -n "${BOOTSTRAP_OWN_DISPLAY:-}" ]; then
    for n in $(seq 91 140); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    winenv_pids+=($!)
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    # Without a window manager Wine waits 2 s whenever a shown window hides.
    matchbox-window-manager -use_titlebar no >/dev/null 2>&1 &
    winenv_pids+=($!)
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "winenv: booting Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
  fi
  wineserver -p >/dev/null 2>&1 &
  winenv_pids+=($!)
  # Start Wine's own background processes (services, explorer) once, so the
  # first program run does not wait for them.
  wine cmd /c exit >/dev/null 2>&1 || true
  winenv_nodebugger
  # Scripts run from here (scripts/pack.sh) use this environment as it is.
  export WINENV_ACTIVE=1
}

winenv_stop() {
  unset WINENV_ACTIVE
  wineserver -k >/dev/null 2>&1 || true
  local p
  for p in "${winenv_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${winenv_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  winenv_pids=()
}

# A crashing program ends at once instead of waiting in the crash debugger.
winenv_nodebugger() {
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1 || true
}
