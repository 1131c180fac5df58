#!/usr/bin/env bash
# Build benchmark: the bare program packs the seeded corpus under Wine, beside
# `zip -9 -r` (Info-ZIP) of the same tree and makensis (NSIS, zlib) of a
# minimal installer of the same files; a few rounds, interleaved, then
# medians, the ratios to zip and the sizes.
#   bench/builder/run.sh [MiB of the corpus, default 200] [rounds, default 3]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$here"
# The Windows path this host allows (scripts/host.sh): on a host without
# 32-bit support the programs built for 64-bit Windows are measured.
source scripts/host.sh
host_choose "bench/builder" || exit 2
preset="$(host_windows_preset)"
size="${1:-200}"
rounds="${2:-3}"
bash bench/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build build/$preset --target bootstrap archivecorpus benchlaunch >/dev/null
source bench/common.sh

data="$here/build/$preset/bench-builder"
rm -rf "$data" && mkdir -p "$data/tree" "$data/tmp" "$data/out"
source scripts/winenv.sh
trap winenv_stop EXIT
winenv_start
bin=build/$preset/bench
launch() { wine "$(win "$here/$bin/builder/benchlaunch.exe")" "$@" | tr -d '\r'; }

wine "$(win "$here/$bin/archives/archivecorpus.exe")" "$(win "$data/tree")" 1 "$size" | tr -d '\r'
cp examples/setup/LoaderIcon.ico "$data/tree/setup/"
cp build/$preset/source/bootstrap.exe "$data/tree/bootstrap.exe"
files=$(find "$data/tree/setup" -type f | wc -l)
bytes=$(du -sb "$data/tree/setup" | cut -f1)
echo "corpus: $files files, $(mib "$bytes") MiB; $rounds rounds"

tmpwin="$(win "$data/tmp")"
build_ms=() zip_ms=() nsis_ms=() build_ws=()
for round in $(seq 1 "$rounds"); do
  rm -f "$data/tree/install_test.exe"
  line=$(cd "$data/tree" && launch -e "TMP=$tmpwin" -e "TEMP=$tmpwin" "$(win "$data/tree/bootstrap.exe")")
  [ "$(field exit "$line")" = 0 ] || { echo "builder failed: $line"; exit 1; }
  build_ms+=("$(field ms "$line")")
  build_ws+=("$(field peak_ws_kib "$line")")

  rm -f "$data/out/corpus.zip"
  start=$(nowms)
  (cd "$data/tree" && zip -9 -r -q "$data/out/corpus.zip" setup)
  zip_ms+=($(($(nowms) - start)))

  rm -f "$data/out/corpus-nsis.exe"
  start=$(nowms)
  makensis -V1 "-DSOURCE=$data/tree/setup" "-DOUTFILE=$data/out/corpus-nsis.exe" bench/builder/corpus.nsi >/dev/null
  nsis_ms+=($(($(nowms) - start)))
  echo "round $round: builder ${build_ms[-1]} ms, zip ${zip_ms[-1]} ms, makensis ${nsis_ms[-1]} ms"
done

b=$(median "${build_ms[@]}") z=$(median "${zip_ms[@]}") n=$(median "${nsis_ms[@]}")
package=$(stat -c %s "$data/tree/install_test.exe")
archive=$(stat -c %s "$data/tmp/qlib.zip")
zipsize=$(stat -c %s "$data/out/corpus.zip")
nsissize=$(stat -c %s "$data/out/corpus-nsis.exe")
echo "== build benchmark: $files files, $(mib "$bytes") MiB, medians of $rounds rounds"
printf '%-30s %10s ms   x%s of zip\n' "bare program (Wine)" "$b" "$(ratio "$b" "$z")"
printf '%-30s %10s ms   x1.00\n' "zip -9 -r" "$z"
printf '%-30s %10s ms   x%s of zip\n' "makensis (zlib)" "$n" "$(ratio "$n" "$z")"
echo "builder peak working set: $(mib $(( $(median "${build_ws[@]}") * 1024 ))) MiB"
printf '%-30s %12s bytes  x%s of zip\n' "package" "$package" "$(ratio "$package" "$zipsize")"
printf '%-30s %12s bytes  x%s of zip\n' "  its setup archive" "$archive" "$(ratio "$archive" "$zipsize")"
printf '%-30s %12s bytes\n' "zip" "$zipsize"
printf '%-30s %12s bytes  x%s of zip\n' "NSIS installer" "$nsissize" "$(ratio "$nsissize" "$zipsize")"
awk -v p="$package" -v z="$zipsize" 'BEGIN {d = (p - z) * 100 / z; printf "package vs zip: %+.2f %%\n", d}'
bare=$(stat -c %s build/$preset/source/bootstrap.exe)
echo "== ratios (goal in brackets)"
printf '%-40s x%s  [x0.60]\n' "build / zip -9 -r" "$(ratio "$b" "$z")"
printf '%-40s %s bytes, x%s of 262144  [x1.00 or less]\n' "bare program size" "$bare" "$(ratio "$bare" 262144)"
rm -rf "$data"
