#!/usr/bin/env bash
# Build benchmark: the bare program packs the seeded corpus under Wine, beside
# `zip -9 -r` (Info-ZIP) of the same tree and makensis (NSIS, zlib) of a
# minimal installer of the same files; a few rounds, interleaved, then
# medians, the ratios to zip and the sizes.
#   bench/builder/run.sh [MiB of the corpus, default 200] [rounds, default 3]
# BENCH_SMOKE=1: 1 MiB, one round (bench/common.sh).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source bench/common.sh
size="${1:-$(bench_default 200 1)}"
rounds="${2:-$(bench_default 3 1)}"
bench_windows "bench/builder" bootstrap archivecorpus benchlaunch
data="$bench_here/build/$preset/bench-builder"
rm -rf "$data" && mkdir -p "$data/tmp" "$data/out"
bench_wine

bench_tree "$data/tree" "$size"
files=$(find "$data/tree/setup" -type f | wc -l)
bytes=$(du -sb "$data/tree/setup" | cut -f1)
echo "corpus: $files files, $(mib "$bytes") MiB; $rounds rounds"

build_ms=() zip_ms=() nsis_ms=() build_ws=()
bench_rounds_begin
for round in $(seq 1 "$rounds"); do
  line=$(bench_builder "$data/tree" "$data/tmp")
  build_ms+=("$(field ms "$line")")
  build_ws+=("$(field peak_ws_kib "$line")")
  zip_ms+=("$(bench_zip "$data/tree" "$data/out/corpus.zip")")
  nsis_ms+=("$(bench_nsis "$data/tree" "$data/out/corpus-nsis.exe")")
  echo "round $round: builder ${build_ms[-1]} ms, zip ${zip_ms[-1]} ms, makensis ${nsis_ms[-1]} ms"
done
bench_rounds_end

b=$(median "${build_ms[@]}") z=$(median "${zip_ms[@]}") n=$(median "${nsis_ms[@]}")
package=$(stat -c %s "$data/tree/install_test.exe")
archive=$(stat -c %s "$data/tmp/qlib.zip")
zipsize=$(stat -c %s "$data/out/corpus.zip")
nsissize=$(stat -c %s "$data/out/corpus-nsis.exe")
echo "== build benchmark: $files files, $(mib "$bytes") MiB, medians of $rounds rounds$(bench_mark)"
printf '%-30s %10s ms   x%s of zip\n' "bare program (Wine)" "$b" "$(ratio "$b" "$z")"
printf '%-30s %10s ms   x1.00\n' "zip -9 -r" "$z"
printf '%-30s %10s ms   x%s of zip\n' "makensis (zlib)" "$n" "$(ratio "$n" "$z")"
echo "builder peak working set: $(mib $(( $(median "${build_ws[@]}") * 1024 ))) MiB"
printf '%-30s %12s bytes  x%s of zip\n' "package" "$package" "$(ratio "$package" "$zipsize")"
printf '%-30s %12s bytes  x%s of zip\n' "  its setup archive" "$archive" "$(ratio "$archive" "$zipsize")"
printf '%-30s %12s bytes\n' "zip" "$zipsize"
printf '%-30s %12s bytes  x%s of zip\n' "NSIS installer" "$nsissize" "$(ratio "$nsissize" "$zipsize")"
awk -v p="$package" -v z="$zipsize" 'BEGIN {d = (p - z) * 100 / z; printf "package vs zip: %+.2f %%\n", d}'
bare=$(stat -c %s "build/$preset/source/bootstrap.exe")
echo "== ratios (goal in brackets)$(bench_mark)"
printf '%-40s x%s  %s\n' "build / zip -9 -r" "$(ratio "$b" "$z")" "$(bench_goal x0.60)"
printf '%-40s %s bytes, x%s of 262144  %s\n' "bare program size" "$bare" "$(ratio "$bare" 262144)" "$(bench_goal "x1.00 or less")"
rm -rf "$data"
