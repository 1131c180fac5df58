#!/usr/bin/env bash
# Runs a Windows program under the project's Wine prefix (CTest's emulator).
# scripts/winenv.sh sets the prefix and display up; without it the defaults
# below are used and Wine boots the prefix on first use.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
