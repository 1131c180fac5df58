#!/usr/bin/env bash
# Install benchmark, all under Wine in one run: a package of the seeded corpus
# built by the bare program and installed hidden (its setup program exits at
# once), a silent NSIS installer (zlib) of the same files, and the floor: a
# minimal zlib program inflating the same entries from the package's own setup
# archive. Medians of a few interleaved rounds, the ratios, the peak memory
# of each process, and for a small corpus the time until the setup program
# starts (NSIS starts the same program after its files are written), hidden
# and with the window shown; last, the ratios the project aims at.
#   bench/install/run.sh [MiB of the corpus, default 200] [MiB of the small
#                         corpus, default 5] [rounds, default 3]
# BENCH_SMOKE=1: 1 MiB corpora, one round (bench/common.sh).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source bench/common.sh
size="${1:-$(bench_default 200 1)}"
small="${2:-$(bench_default 5 1)}"
rounds="${3:-$(bench_default 3 1)}"
bench_windows "bench/install" bootstrap archivecorpus benchlaunch benchquicksetup zlibfloor
data="$bench_here/build/$preset/bench-install"
rm -rf "$data" && mkdir -p "$data"
bench_wine

# prepare NAME MIB: the corpus with the quick setup program, its package (and
# the setup archive the builder left in its workspace), its NSIS installer.
prepare() {
  local dir="$data/$1"
  mkdir -p "$dir/tree" "$dir/buildtmp"
  wine "$(win "$bin/archives/archivecorpus.exe")" "$(win "$dir/tree")" 7 "$2" | tr -d '\r' >/dev/null
  cp examples/setup/LoaderIcon.ico examples/setup/uninstallicon.ico "$dir/tree/setup/"
  cp "$bin/install/benchquicksetup.exe" "$dir/tree/setup/rEdizo.exe"
  cp build/$preset/source/bootstrap.exe "$dir/tree/bootstrap.exe"
  bench_builder "$dir/tree" "$dir/buildtmp" >/dev/null
  bench_nsis "$dir/tree" "$dir/nsis.exe" -DSTARTSETUP >/dev/null
  echo "$1 corpus: $(find "$dir/tree/setup" -type f | wc -l) files, $(mib "$(du -sb "$dir/tree/setup" | cut -f1)") MiB;" \
    "package $(mib "$(stat -c %s "$dir/tree/install_test.exe")") MiB, NSIS $(mib "$(stat -c %s "$dir/nsis.exe")") MiB"
}

# measure NAME: rounds of the three, interleaved; the launcher lines are
# kept in $data/NAME/{package,nsis,floor}.log.
measure() {
  local dir="$data/$1" round line want got
  want=$(find "$dir/tree/setup" -type f | wc -l)
  for round in $(seq 1 "$rounds"); do
    rm -rf "$dir/tmp" && mkdir -p "$dir/tmp"
    line=$(launch -e "TMP=$(win "$dir/tmp")" -e "TEMP=$(win "$dir/tmp")" -s "$(win "$dir/stamp")" \
      "$(win "$dir/tree/install_test.exe")" 1 x)
    got=$(find "$dir/tmp/setup" -type f ! -name channel.cfg ! -name uninstall.exe ! -name config.xml | wc -l)
    [ "$got" = "$want" ] || { echo "package installed $got of $want files: $line"; exit 1; }
    echo "$line" >>"$dir/package.log"
    if [ "$1" = small ]; then
      # Shown: the window fades in before the hand-off.
      rm -rf "$dir/tmp" && mkdir -p "$dir/tmp"
      line=$(launch -e "TMP=$(win "$dir/tmp")" -e "TEMP=$(win "$dir/tmp")" -s "$(win "$dir/stamp")" \
        "$(win "$dir/tree/install_test.exe")")
      echo "$line" >>"$dir/shown.log"
    fi

    rm -rf "$dir/nsisout"
    line=$(launch -s "$(win "$dir/stamp")" "$(win "$dir/nsis.exe")" /S "/D=$(win "$dir/nsisout")")
    got=$(find "$dir/nsisout/setup" -type f | wc -l)
    [ "$got" = "$want" ] || { echo "NSIS installed $got of $want files: $line"; exit 1; }
    echo "$line" >>"$dir/nsis.log"

    rm -rf "$dir/floorout"
    line=$(launch "$(win "$bin/install/zlibfloor.exe")" "$(win "$dir/buildtmp/qlib.zip")" "$(win "$dir/floorout")")
    got=$(find "$dir/floorout" -type f | wc -l)
    [ "$got" = "$want" ] || { echo "the floor wrote $got of $want files: $line"; exit 1; }
    echo "$line" >>"$dir/floor.log"
    echo "$1 round $round: package $(field ms "$(tail -1 "$dir/package.log")") ms," \
      "NSIS $(field ms "$(tail -1 "$dir/nsis.log")") ms, floor $(field ms "$line") ms"
  done
}

# stat NAME PROGRAM KEY: median of KEY over the rounds.
stat_() { local l values=(); while read -r l; do values+=("$(field "$3" "$l")"); done <"$data/$1/$2.log"; median "${values[@]}"; }

report() {
  local p n f
  p=$(stat_ "$1" package ms) n=$(stat_ "$1" nsis ms) f=$(stat_ "$1" floor ms)
  echo "== install, $1 corpus: medians of $rounds rounds$(bench_mark)"
  printf '%-26s %10s ms   x%s of NSIS   x%s of the floor\n' "package (hidden)" "$p" "$(ratio "$p" "$n")" "$(ratio "$p" "$f")"
  printf '%-26s %10s ms\n' "NSIS installer (/S)" "$n"
  printf '%-26s %10s ms\n' "zlib floor" "$f"
  local prog
  for prog in package nsis floor; do
    printf 'peak memory %-14s working set %6s MiB, pagefile %6s MiB\n' "$prog" \
      "$(mib $(($(stat_ "$1" "$prog" peak_ws_kib) * 1024)))" "$(mib $(($(stat_ "$1" "$prog" peak_pagefile_kib) * 1024)))"
  done
  local ps ns
  ps=$(stat_ "$1" package setup_ms) ns=$(stat_ "$1" nsis setup_ms)
  printf 'setup program started after: package %s ms, NSIS %s ms (x%s)\n' "$ps" "$ns" "$(ratio "$ps" "$ns")"
  if [ -f "$data/$1/shown.log" ]; then
    local ss
    ss=$(stat_ "$1" shown setup_ms)
    printf 'setup program started after, window shown: package %s ms (x%s of NSIS; the fade-in alone is 550 ms)\n' \
      "$ss" "$(ratio "$ss" "$ns")"
  fi
}

# The figures the project aims at, as ratios of this run's medians.
goals() {
  local p n f ps ns
  p=$(stat_ large package ms) n=$(stat_ large nsis ms) f=$(stat_ large floor ms)
  ps=$(stat_ small package setup_ms) ns=$(stat_ small nsis setup_ms)
  echo "== ratios (goal in brackets)$(bench_mark)"
  printf '%-58s x%s  %s\n' "install, large corpus, hidden / NSIS" "$(ratio "$p" "$n")" "$(bench_goal x0.65)"
  printf '%-58s x%s  %s\n' "install, large corpus / zlib floor" "$(ratio "$p" "$f")" "$(bench_goal x0.85)"
  printf '%-58s x%s  %s\n' "install, small corpus, until the setup program starts / NSIS" "$(ratio "$ps" "$ns")" "$(bench_goal x0.85)"
  local size
  for size in large small; do
    printf '%-58s x%s  %s\n' "installer peak working set / NSIS's, $size corpus" \
      "$(ratio "$(stat_ "$size" package peak_ws_kib)" "$(stat_ "$size" nsis peak_ws_kib)")" "$(bench_goal "x1.00 or less")"
  done
}

prepare large "$size"
prepare small "$small"
bench_rounds_begin
measure large
measure small
bench_rounds_end
report large
report small
goals
rm -rf "$data"
