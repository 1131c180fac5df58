# Sourced by the benchmark scripts from the repository's root: the set-up they
# share, Windows paths, wall-clock timing of Linux commands, medians, the smoke
# mode and the machine's load around and during the rounds.
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

# ---- The machine's load ----
# Other work on the machine changes the figures, so every run says how busy
# the machine was before, during and after its rounds and marks its figures
# disturbed when other work took BENCH_DISTURBED_PERCENT (default 10) percent
# of the cores or more during the rounds. Processor time is read per process
# from /proc: this benchmark's own is that of its process tree and of the
# Wine processes of its prefix (Wine starts Windows processes detached);
# everything else is other work. Time of processes that ended is counted
# through their parent, except the parentless ones init reaps, which nobody
# can tell apart.

bench_cores=$(nproc)
bench_root=$$
bench_loaddir=""
bench_sampler=""
bench_disturbed=""

# bench_snapshot FILE: the time, then a line per process: pid:start pid ppid
# ticks name. Init's ticks leave out the children it reaped.
bench_snapshot() {
    local start
    start=$(date +%s%N)
    {
        # Processes end while they are read.
        { cat /proc/[0-9]*/stat 2>/dev/null || true; } | awk '{
            p = index($0, "("); r = $0; sub(/^.*\) /, "", r)
            name = substr($0, p + 1, length($0) - length(r) - p - 2); gsub(/[ \t]/, "_", name)
            split(r, f, " ")
            t = f[12] + f[13]; if ($1 != 1) t += f[14] + f[15]
            print $1 ":" f[20], $1, f[2], t, name
        }'
        # Reading takes a while on a busy machine: the time is its middle.
        echo "T $(((start + $(date +%s%N)) / 2))"
        # The machine's ticks, all cores: busy (user, nice, system, irq,
        # softirq), then all of them.
        awk '$1 == "cpu" {print "C", $2 + $3 + $4 + $7 + $8, $2 + $3 + $4 + $5 + $6 + $7 + $8 + $9}' /proc/stat
    } >"$1"
}

# bench_classify FILE: adds the Wine processes of this benchmark's prefix in
# FILE to $bench_loaddir/ours (by key). Wine detaches them, so only the
# processes init adopted are asked, each once.
bench_classify() {
    local d="$bench_loaddir"
    [ -n "${WINEPREFIX:-}" ] || return 0
    awk 'FILENAME == ARGV[1] {seen[$1] = 1; next} $1 != "T" && $3 == 1 && !($1 in seen) {print $1, $2}' \
        "$d/seen" "$1" >"$d/fresh"
    cut -d' ' -f1 "$d/fresh" >>"$d/seen"
    # One grep for all: it names the environments that hold the prefix.
    awk '{print "/proc/" $2 "/environ"}' "$d/fresh" | xargs -r grep -lzx "WINEPREFIX=$WINEPREFIX" 2>/dev/null |
        cut -d/ -f3 >"$d/found" || true
    awk 'FILENAME == ARGV[1] {found[$1] = 1; next} ($2 in found) {print $1}' "$d/found" "$d/fresh" >>"$d/ours"
}

# bench_interval PREV CUR: the processor time between two snapshots, as lines
# "ms MS", "busy TICKS ALL" (the machine's busy ticks and all its ticks),
# "ours - TICKS" and "other NAME TICKS". A process that ended is
# taken off the growth of its nearest running ancestor, whose count now holds
# it whole.
bench_interval() {
    bench_classify "$2"
    awk -v root="$bench_root" '
        FILENAME == ARGV[1] { ours[$1] = 1; next }
        FILENAME == ARGV[2] { if ($1 == "T") t0 = $2; else if ($1 == "C") { c0 = $2; a0 = $3 } else { prev[$1] = $4; pparent[$1] = $3; pkey[$2] = $1 }; next }
        $1 == "T" { t1 = $2; next }
        $1 == "C" { c1 = $2; a1 = $3; next }
        { key[$2] = $1; parent[$2] = $3; ticks[$1] = $4; name[$1] = $5; now[$1] = 1 }
        END {
            # Within the benchmark: below its script, or below one of its Wine processes.
            for (p in key) mine[p] = (p == root || (key[p] in ours))
            do {
                more = 0
                for (p in key) if (!mine[p] && (parent[p] in mine) && mine[parent[p]]) { mine[p] = 1; more = 1 }
            } while (more)
            for (k in now) { d[k] = ticks[k] - ((k in prev) ? prev[k] : 0) }
            for (p in pkey) if (!(pkey[p] in now)) gone[p] = pparent[pkey[p]]
            for (k in prev) {
                if (k in now) continue
                # The nearest ancestor still running; its children that ended
                # too handed their whole count up to it.
                q = pparent[k]
                for (n = 0; n < 64 && q != 1 && !((q in key) && (key[q] in prev)) && (q in gone); ++n) q = gone[q]
                if (q != 1 && (q in key) && (key[q] in prev)) d[key[q]] -= prev[k]
            }
            printf "ms %d\nbusy %d %d\n", (t1 - t0) / 1000000, c1 - c0, a1 - a0
            for (p in key) {
                k = key[p]
                if (d[k] <= 0) continue
                if (mine[p]) print "ours -", d[k]; else print "other", name[k], d[k]
            }
        }' "$bench_loaddir/ours" "$1" "$2"
}

# bench_window LABEL INTERVALS...: one line: the share of the cores other work
# took over the intervals and its busiest programs, and this benchmark's own.
# Returns 1 when other work took a noticeable share.
bench_window() {
    local label="$1"
    shift
    cat "$@" | awk -v label="$label" -v cores="$bench_cores" \
        -v limit="${BENCH_DISTURBED_PERCENT:-10}" '
        $1 == "ms" { ms += $2; next }
        $1 == "busy" { busy += $2; all += $3; next }
        $1 == "ours" { ours += $3; next }
        { other += $3; by[$2] += $3 }
        END {
            # Shares of all the ticks the cores had: on a virtual machine the
            # ticks need not match the wall clock. Some processes (an emulator
            # here) report more time than the cores had: other work is never
            # more than the machine did besides this benchmark.
            if (all <= 0) all = 1
            if (other > busy - ours) other = busy - ours
            if (other < 0) other = 0
            share = other / all * 100
            line = sprintf("%s (%.1f s): other work %.2f of %d cores (%.0f%%)", label, ms / 1000, other / all * cores, cores, share)
            for (i = 0; i < 3; ++i) {
                best = ""; for (n in by) if (best == "" || by[n] > by[best]) best = n
                if (best == "" || by[best] / all * cores < 0.01) break
                line = line sprintf("%s %s %.2f", i ? "," : ";", best, by[best] / all * cores); delete by[best]
            }
            printf "%s; this benchmark %.2f cores\n", line, ours / all * cores
            exit share >= limit
        }'
}

# bench_machine LABEL: the load average against the cores, and half a second
# of the machine's processes.
bench_machine() {
    local l1 l5 l15 rest
    read -r l1 l5 l15 rest </proc/loadavg
    echo "machine $1: load average $l1 $l5 $l15 on $bench_cores cores"
    bench_snapshot "$bench_loaddir/a"
    sleep 0.5
    bench_snapshot "$bench_loaddir/b"
    bench_interval "$bench_loaddir/a" "$bench_loaddir/b" >"$bench_loaddir/$1"
    bench_window "machine $1" "$bench_loaddir/$1" || true
}

# bench_rounds_begin: the machine before the rounds, then a sample of its
# processes every second until bench_rounds_end.
bench_rounds_begin() {
    bench_loaddir="$(mktemp -d)"
    bench_on_exit 'rm -rf "$bench_loaddir"'
    : >"$bench_loaddir/seen"
    : >"$bench_loaddir/ours"
    bench_machine "before the rounds"
    bench_snapshot "$bench_loaddir/s0"
    (
        set +e
        n=0
        # At least one sample, the last one after the rounds; never beyond the benchmark.
        while kill -0 "$bench_root" 2>/dev/null; do
            sleep 1
            bench_snapshot "$bench_loaddir/s$((n + 1))"
            bench_interval "$bench_loaddir/s$n" "$bench_loaddir/s$((n + 1))" >"$bench_loaddir/during.$n"
            rm -f "$bench_loaddir/s$n"
            n=$((n + 1))
            [ ! -e "$bench_loaddir/stop" ] || break
        done
    ) &
    bench_sampler=$!
    bench_on_exit 'bench_stop_sampler'
}

bench_stop_sampler() {
    [ -n "$bench_sampler" ] || return 0
    touch "$bench_loaddir/stop"
    wait "$bench_sampler" 2>/dev/null || true
    bench_sampler=""
}

# bench_rounds_end: the machine during and after the rounds, and whether the
# figures are disturbed (bench_mark).
bench_rounds_end() {
    bench_stop_sampler
    if bench_window "machine during the rounds" "$bench_loaddir"/during.*; then
        bench_disturbed=""
    else
        bench_disturbed=1
    fi
    bench_machine "after the rounds"
    if [ -n "$bench_disturbed" ]; then
        echo "figures DISTURBED: other work took ${BENCH_DISTURBED_PERCENT:-10}% of the cores or more during the rounds"
    else
        echo "figures undisturbed: other work took under ${BENCH_DISTURBED_PERCENT:-10}% of the cores during the rounds"
    fi
}

# bench_mark: " [DISTURBED]" after the heading of disturbed figures.
bench_mark() { if [ -n "$bench_disturbed" ]; then echo " [DISTURBED]"; fi; }
