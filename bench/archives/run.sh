#!/usr/bin/env bash
# Runs the archive benchmark under Wine: generates the corpus (seeded), writes
# and reads it back, then reads a package holding one big entry.
#   bench/archives/run.sh [MiB of the big entry, default 1024] [MiB of the
#                          corpus, default 200]
# BENCH_SMOKE=1: a 1 MiB entry and a 1 MiB corpus (bench/common.sh).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source bench/common.sh
big="${1:-$(bench_default 1024 1)}"
size="${2:-$(bench_default 200 1)}"
bench_windows "bench/archives" archivecorpus archivebench
data="$bench_here/build/$preset/bench-archives"
rm -rf "$data" && mkdir -p "$data"
bench_wine
run() { wine "$(win "$bin/archives/$1.exe")" "${@:2}" | tr -d '\r'; }
run archivecorpus "$(win "$data/corpus")" 1 "$size"
bench_rounds_begin
echo "== archive benchmark"
run archivebench write "$(win "$data/corpus")" "$(win "$data/corpus.exe")"
run archivebench read "$(win "$data/corpus.exe")" "$(win "$data/out-corpus")"
rm -rf "$data/out-corpus" "$data/corpus"
run archivebench big "$(win "$data/big.exe")" "$big"
run archivebench read "$(win "$data/big.exe")" "$(win "$data/out-big")"
bench_rounds_end
rm -rf "$data"
