#!/usr/bin/env bash
# Runs the archive benchmark under Wine: generates the corpus (seeded), writes
# and reads it back, then reads a package holding one entry of 1 GiB.
#   bench/archives/run.sh [MiB of the big entry, default 1024]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$here"
# The Windows path this host allows (scripts/host.sh): on a host without
# 32-bit support the programs built for 64-bit Windows are measured.
source scripts/host.sh
host_choose "bench/archives" || exit 2
preset="$(host_windows_preset)"
big="${1:-1024}"
cmake --preset "$preset" >/dev/null && cmake --build build/$preset --target archivecorpus archivebench >/dev/null
data="$here/build/$preset/bench-archives"
rm -rf "$data" && mkdir -p "$data"
win() { echo "Z:${1//\//\\}"; }
source scripts/winenv.sh
trap winenv_stop EXIT
winenv_start
bin=build/$preset/bench/archives
wine $bin/archivecorpus.exe "$(win "$data/corpus")" 1 200
wine $bin/archivebench.exe write "$(win "$data/corpus")" "$(win "$data/corpus.exe")"
wine $bin/archivebench.exe read "$(win "$data/corpus.exe")" "$(win "$data/out-corpus")"
rm -rf "$data/out-corpus" "$data/corpus"
wine $bin/archivebench.exe big "$(win "$data/big.exe")" "$big"
wine $bin/archivebench.exe read "$(win "$data/big.exe")" "$(win "$data/out-big")"
rm -rf "$data"
