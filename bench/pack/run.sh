#!/usr/bin/env bash
# Native packing benchmark: the native packer (tools/pack, every core) packs
# the seeded corpus of the builder benchmark, beside `zip -9 -r` (Info-ZIP)
# of the same tree, makensis (NSIS, zlib) of a minimal installer of the same
# files and the Windows builder (the bare program under Wine); a few rounds,
# interleaved, then medians, ratios, sizes and peak memory.
#   bench/pack/run.sh [MiB of the corpus, default 200] [rounds, default 3]
# BENCH_SMOKE=1: 1 MiB, one round (bench/common.sh).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source bench/common.sh
size="${1:-$(bench_default 200 1)}"
rounds="${2:-$(bench_default 3 1)}"
bench_windows "bench/pack" bootstrap archivecorpus benchlaunch
tools=build/inspect
[ -f "$tools/build.ninja" ] || cmake --preset inspect >/dev/null
cmake --build "$tools" --target pack >/dev/null
data="$bench_here/build/$preset/bench-pack"
rm -rf "$data" && mkdir -p "$data/tmp" "$data/out"
bench_wine

bench_tree "$data/tree" "$size"
# The native packer needs a setup program; the builder packs it as a file like any other.
cp "build/$preset/source/bootstrap.exe" "$data/tree/setup/rEdizo.exe"
files=$(find "$data/tree/setup" -type f | wc -l)
bytes=$(du -sb "$data/tree/setup" | cut -f1)
cores=$(nproc)
echo "corpus: $files files, $(mib "$bytes") MiB; $rounds rounds; $cores cores"

pack_ms=() pack_kib=() build_ms=() build_ws=() zip_ms=() nsis_ms=()
bench_rounds_begin
for round in $(seq 1 "$rounds"); do
  rm -f "$data/out/native.exe"
  start=$(nowms)
  /usr/bin/time -f '%M' -o "$data/out/rss.txt" "$tools/tools/pack/pack" --stub "build/$preset/source/bootstrap.exe" \
    --codepage 1252 "$data/tree" "$data/out/native.exe" >/dev/null
  pack_ms+=($(($(nowms) - start)))
  pack_kib+=("$(tail -1 "$data/out/rss.txt")")

  line=$(bench_builder "$data/tree" "$data/tmp")
  build_ms+=("$(field ms "$line")")
  build_ws+=("$(field peak_ws_kib "$line")")
  zip_ms+=("$(bench_zip "$data/tree" "$data/out/corpus.zip")")
  nsis_ms+=("$(bench_nsis "$data/tree" "$data/out/corpus-nsis.exe")")
  echo "round $round: native ${pack_ms[-1]} ms, builder (Wine) ${build_ms[-1]} ms, zip ${zip_ms[-1]} ms, makensis ${nsis_ms[-1]} ms"
done
bench_rounds_end

p=$(median "${pack_ms[@]}") b=$(median "${build_ms[@]}") z=$(median "${zip_ms[@]}") n=$(median "${nsis_ms[@]}")
pk=$(median "${pack_kib[@]}") bk=$(median "${build_ws[@]}")
native=$(stat -c %s "$data/out/native.exe")
package=$(stat -c %s "$data/tree/install_test.exe")
zipsize=$(stat -c %s "$data/out/corpus.zip")
nsissize=$(stat -c %s "$data/out/corpus-nsis.exe")
echo "== native packing benchmark: $files files, $(mib "$bytes") MiB, medians of $rounds rounds, $cores cores$(bench_mark)"
printf '%-30s %10s ms   x%s of zip\n' "native packer" "$p" "$(ratio "$p" "$z")"
printf '%-30s %10s ms   x%s of zip\n' "Windows builder (Wine)" "$b" "$(ratio "$b" "$z")"
printf '%-30s %10s ms   x1.00\n' "zip -9 -r" "$z"
printf '%-30s %10s ms   x%s of zip\n' "makensis (zlib)" "$n" "$(ratio "$n" "$z")"
printf '%-30s %10s MiB\n' "native peak memory (RSS)" "$(mib $((pk * 1024)))"
printf '%-30s %10s MiB\n' "builder peak working set" "$(mib $((bk * 1024)))"
printf '%-30s %12s bytes  x%s of zip\n' "native package" "$native" "$(ratio "$native" "$zipsize")"
printf '%-30s %12s bytes  x%s of zip\n' "builder's package" "$package" "$(ratio "$package" "$zipsize")"
printf '%-30s %12s bytes\n' "zip" "$zipsize"
printf '%-30s %12s bytes  x%s of zip\n' "NSIS installer" "$nsissize" "$(ratio "$nsissize" "$zipsize")"
echo "== ratios (goal in brackets)$(bench_mark)"
printf '%-40s x%s  %s\n' "native / zip -9 -r" "$(ratio "$p" "$z")" "$(bench_goal "x0.50 or less")"
printf '%-40s x%s  %s\n' "native / Windows builder (Wine)" "$(ratio "$p" "$b")" "$(bench_goal "x0.50 or less")"
printf '%-40s x%s  %s\n' "native package / builder's package" "$(ratio "$native" "$package")" "$(bench_goal "x1.00 or less")"
printf '%-40s x%s  %s\n' "native peak memory / builder's" "$(ratio "$pk" "$bk")" "$(bench_goal "x1.00 or less")"
rm -rf "$data"
