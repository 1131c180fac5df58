#!/usr/bin/env bash
# Runs a Windows program under the project's Wine prefix (CTest's emulator).
#   wine-run.sh 32|64 PROGRAM ARGS...   (the width comes from the toolchain)
# scripts/winenv.sh sets the prefix and display up; without it the defaults
# below are used and Wine boots the prefix on first use.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bits="$1"
shift
# shellcheck source=scripts/host.sh
source "$here/scripts/host.sh"
winenv_arch "$bits"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
