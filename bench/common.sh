# Sourced by the benchmark scripts from the repository's root: the set-up they
# share, Windows paths, wall-clock timing of Linux commands, medians and the
# smoke mode.
#
# Smoke mode (BENCH_SMOKE=1): a tiny corpus and one round through the same
# steps, so that the test command finds a benchmark that no longer runs; its
# figures are printed and never read against the goals.

bench_here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# bench_default FULL SMOKE: FULL, or SMOKE in smoke mode.
bench_default() { if bench_smoke; then echo "$2"; else echo "$1"; fi; }
bench_smoke() { [ "${BENCH_SMOKE:-0}" = 1 ]; }

# bench_goal TEXT: "[TEXT]" after a ratio the project aims at; a smoke run's
# figures come from a tiny corpus and say nothing about the goal.
bench_goal() { if bench_smoke; then echo "[smoke run: not judged]"; else echo "[$1]"; fi; }

# Z:\... path of a Unix path, for Windows programs.
win() { echo "Z:${1//\//\\}"; }

# Milliseconds since the epoch.
nowms() { echo $(($(date +%s%N) / 1000000)); }

# Median of the numbers given as arguments.
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# The value of key=value in a benchlaunch line.
field() { echo "$2" | tr ' ' '\n' | sed -n "s/^$1=//p" | tr -d '\r'; }

# a / b with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

mib() { awk -v a="$1" 'BEGIN {printf "%.1f", a / 1048576}'; }

# Commands run when the benchmark exits, last registered first.
bench_exits=()
bench_on_exit() {
    bench_exits=("$1" "${bench_exits[@]}")
    trap bench_exit EXIT
}
bench_exit() {
    local c
    for c in "${bench_exits[@]}"; do eval "$c"; done
}

# bench_setup: everything the benchmarks need installed (bench/setup.sh),
# unless the caller did that already and says so with BENCH_SET_UP=1.
bench_setup() { [ "${BENCH_SET_UP:-0}" = 1 ] || bash "$bench_here/bench/setup.sh"; }

# bench_windows NAME TARGET...: the Windows path this host allows
# (scripts/host.sh: on a host without 32-bit support the programs built for
# 64-bit Windows are measured), bench_setup, and TARGET... built. Sets preset
# and bin (the benchmarks' programs).
bench_windows() {
    local name="$1"
    shift
    source "$bench_here/scripts/host.sh"
    host_choose "$name" || exit 2
    preset="$(host_windows_preset)"
    bench_setup
    [ -f "$bench_here/build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
    cmake --build "$bench_here/build/$preset" --target "$@" >/dev/null
    bin="$bench_here/build/$preset/bench"
}

# bench_wine: the project's Wine environment, or the one the caller has up
# (the test command runs the smoke runs inside its own).
bench_wine() {
    source "$bench_here/scripts/winenv.sh"
    [ -z "${WINENV_ACTIVE:-}" ] || return 0
    bench_on_exit winenv_stop
    winenv_start
}

# launch ARG...: benchlaunch under Wine; prints its one line of figures.
launch() { wine "$(win "$bin/builder/benchlaunch.exe")" "$@" | tr -d '\r'; }

# bench_tree DIR MIB: the build benchmarks' seeded corpus in DIR/setup, the
# icon the builder wants in it, and the bare program in DIR.
bench_tree() {
    mkdir -p "$1"
    wine "$(win "$bin/archives/archivecorpus.exe")" "$(win "$1")" 1 "$2" | tr -d '\r'
    cp "$bench_here/examples/setup/LoaderIcon.ico" "$1/setup/"
    cp "$bench_here/build/$preset/source/bootstrap.exe" "$1/bootstrap.exe"
}

# bench_builder DIR TMP: the bare program in DIR packs DIR into
# DIR/install_test.exe with its workspace in TMP; prints benchlaunch's line.
bench_builder() {
    local line
    rm -f "$1/install_test.exe"
    line=$(cd "$1" && launch -e "TMP=$(win "$2")" -e "TEMP=$(win "$2")" "$(win "$1/bootstrap.exe")")
    [ "$(field exit "$line")" = 0 ] || { echo "builder failed: $line" >&2; return 1; }
    echo "$line"
}

# bench_zip DIR ZIP: milliseconds of `zip -9 -r` of DIR/setup into ZIP.
bench_zip() {
    local start
    rm -f "$2"
    start=$(nowms)
    (cd "$1" && zip -9 -r -q "$2" setup) || return 1
    echo $(($(nowms) - start))
}

# bench_nsis DIR EXE [OPTION...]: milliseconds of makensis writing the peer
# installer of DIR/setup to EXE, for the Windows the benchmark's programs are
# built for (a 32-bit installer cannot run under 64-bit-only Wine).
bench_nsis() {
    local start target=x86-unicode
    [ "$preset" != windows64 ] || target=amd64-unicode
    rm -f "$2"
    start=$(nowms)
    makensis -V1 "-DTARGET=$target" "-DSOURCE=$1/setup" "-DOUTFILE=$2" "${@:3}" \
        "$bench_here/bench/builder/corpus.nsi" >/dev/null || return 1
    echo $(($(nowms) - start))
}
