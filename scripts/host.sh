# Sourced by the scripts: which Windows path this host allows, found once per
# run and inherited by the scripts that run started (install.sh, pack.sh).
#
#   host_choose NAME   sets and exports BOOTSTRAP_WINE_BITS (32 or 64) and
#                      BOOTSTRAP_WINE_REASON, prints "NAME: ..." saying which
#                      path and why; returns 2 for an unknown BOOTSTRAP_WINE.
#
# 32-bit Wine wherever the host executes 32-bit x86 programs: that is the
# program that ships, and the reference. Elsewhere (kernels without 32-bit
# emulation, ARM64 machines) the same sources are built for 64-bit Windows and
# run under 64-bit Wine. BOOTSTRAP_WINE=32 or 64 forces a path.
# The check runs a tiny 32-bit x86 Linux program (BOOTSTRAP_PROBE32 names
# another program to run in its place, for the host check's own test); a
# version string cannot tell, since the same kernel may have its 32-bit
# emulation turned off.

# host_writeprobe FILE: a 93-byte 32-bit x86 Linux program that exits 0
# (ELF header, one loadable segment, then mov eax,1; xor ebx,ebx; int 0x80).
host_writeprobe() {
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$1"
    printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$1"
    printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >>"$1"
    printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$1"
    printf '\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000' >>"$1"
    printf '\270\001\000\000\000\061\333\315\200' >>"$1"
    chmod +x "$1"
}

# host_runs32: true when the host executes the probe; says why not on stdout.
host_runs32() {
    local probe="${BOOTSTRAP_PROBE32:-}" dir="" said status
    if [ -z "$probe" ]; then
        # In the build tree, not in TMPDIR: a temporary directory may be
        # mounted noexec, which would read as a host without 32-bit support.
        mkdir -p "$(dirname "${BASH_SOURCE[0]}")/../build"
        dir="$(mktemp -d "$(dirname "${BASH_SOURCE[0]}")/../build/hostprobe.XXXXXX")"
        probe="$dir/probe32"
        host_writeprobe "$probe"
    fi
    said="$("$probe" 2>&1)"
    status=$?
    [ -z "$dir" ] || rm -rf "$dir"
    [ $status = 0 ] && return 0
    said="$(printf '%s' "$said" | sed -n 's/.*: \([^:]*\)$/\1/p' | tail -n1)"
    echo "${said:-exit code $status}"
    return 1
}

host_choose() {
    local name="$1" why
    case "${BOOTSTRAP_WINE:-}" in
    "" | 32 | 64) ;;
    *)
        echo "$name: BOOTSTRAP_WINE=${BOOTSTRAP_WINE} is neither 32 nor 64" >&2
        return 2
        ;;
    esac
    if [ -z "${BOOTSTRAP_WINE_BITS:-}" ] || { [ -n "${BOOTSTRAP_WINE:-}" ] && [ "$BOOTSTRAP_WINE" != "$BOOTSTRAP_WINE_BITS" ]; }; then
        if [ -n "${BOOTSTRAP_WINE:-}" ]; then
            BOOTSTRAP_WINE_BITS="$BOOTSTRAP_WINE"
            BOOTSTRAP_WINE_REASON="forced by BOOTSTRAP_WINE=$BOOTSTRAP_WINE"
        elif why="$(host_runs32)"; then
            BOOTSTRAP_WINE_BITS=32
            BOOTSTRAP_WINE_REASON="this host executes 32-bit x86 programs"
        else
            BOOTSTRAP_WINE_BITS=64
            BOOTSTRAP_WINE_REASON="this host does not execute 32-bit x86 programs ($why)"
        fi
        export BOOTSTRAP_WINE_BITS BOOTSTRAP_WINE_REASON
    fi
    if [ "$BOOTSTRAP_WINE_BITS" = 32 ]; then
        echo "$name: Windows path 32: 32-bit Wine runs the 32-bit programs; $BOOTSTRAP_WINE_REASON"
    else
        echo "$name: Windows path 64: 64-bit Wine runs the programs built for 64-bit Windows; $BOOTSTRAP_WINE_REASON"
    fi
}

# The Windows build the tests and the demo run, for the chosen path.
host_windows_preset() { if [ "$BOOTSTRAP_WINE_BITS" = 64 ]; then echo windows64; else echo windows; fi; }

# winenv_arch 32|64: the Wine of that width, with a prefix of its own
# (build/wineprefix, build/wineprefix64; WINEPREFIX when set). On the 64-bit
# path "wine" and "wineboot" are the 64-bit loader's (scripts/wine64/).
winenv_arch() {
    local root
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    if [ "$1" = 64 ]; then
        export WINEARCH=win64
        export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix64}"
        case ":$PATH:" in
        *":$root/scripts/wine64:"*) ;;
        *) export PATH="$root/scripts/wine64:$PATH" ;;
        esac
    else
        export WINEARCH=win32
        export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
    fi
}
