#!/usr/bin/env bash
# Smaller packages: the native packer's deflate and LZMA packages of two
# trees, a real one (the Windows DLLs of Debian's Wine, dlltree.sh) and the
# seeded corpus of the builder benchmark, beside the peers' compressors on
# the same files: 7-Zip solid (.7z, LZMA2), 7-Zip's ZIP with LZMA entries,
# xz -9e per file, NSIS with /SOLID lzma. For each: size and packing time
# (every core); then each package, and the NSIS installer, installed under
# Wine (the setup program exits at once): time and peak working set.
# Rounds interleaved, medians; last, the goals on the real tree.
#   bench/compress/run.sh [MiB of the DLL tree, default 180] [MiB of the corpus, default 100] [rounds, default 3]
# BENCH_SMOKE=1: trees of a few MiB, one round, the same steps; the figures
# are printed, no goal is judged.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$here"
# The Windows path this host allows (scripts/host.sh): on a host without
# 32-bit support the programs built for 64-bit Windows are measured.
source scripts/host.sh
host_choose "bench/compress" || exit 2
preset="$(host_windows_preset)"
dllmib="${1:-180}"
corpusmib="${2:-100}"
rounds="${3:-3}"
smoke="${BENCH_SMOKE:-0}"
if [ "$smoke" = 1 ]; then dllmib=3 corpusmib=2 rounds=1; fi
bash bench/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build build/$preset --target bootstrap archivecorpus benchlaunch benchquicksetup >/dev/null
tools=build/inspect
[ -f "$tools/build.ninja" ] || cmake --preset inspect >/dev/null
cmake --build "$tools" --target pack inspect >/dev/null
source bench/common.sh

data="$here/build/$preset/bench-compress"
rm -rf "$data" && mkdir -p "$data"
source scripts/winenv.sh
bench_on_exit winenv_stop
winenv_start
bin="$here/build/$preset/bench"
bare="$here/build/$preset/source/bootstrap.exe"
launch() { wine "$(win "$bin/builder/benchlaunch.exe")" "$@" | tr -d '\r'; }
cores=$(nproc)
# NSIS installers for the Windows the host runs: 64-bit ones on the 64-bit path.
nsistarget=x86-unicode
if [ "$preset" = windows64 ]; then nsistarget=amd64-unicode; fi

# The two trees, each below data/NAME/tree/setup with the quick setup
# program as setup/rEdizo.exe.
bash bench/compress/dlltree.sh "$data/dlls/tree/setup" "$dllmib"
mkdir -p "$data/corpus/tree"
wine "$(win "$bin/archives/archivecorpus.exe")" "$(win "$data/corpus/tree")" 1 "$corpusmib" | tr -d '\r' >/dev/null
for name in dlls corpus; do
  cp examples/setup/LoaderIcon.ico "$data/$name/tree/setup/"
  cp "$bin/install/benchquicksetup.exe" "$data/$name/tree/setup/rEdizo.exe"
  echo "$name: $(find "$data/$name/tree/setup" -type f | wc -l) files," \
    "$(mib "$(du -sb "$data/$name/tree/setup" | cut -f1)") MiB"
done

# timed KEY NAME COMMAND...: runs COMMAND, appends its wall time (ms) and
# peak memory (KiB, GNU time) to data/NAME/KEY.{ms,kib}.
timed() {
  local key="$1" name="$2" start
  shift 2
  start=$(nowms)
  /usr/bin/time -f '%M' -o "$data/$name/rss.txt" "$@" >/dev/null
  echo $(($(nowms) - start)) >>"$data/$name/$key.ms"
  tail -1 "$data/$name/rss.txt" >>"$data/$name/$key.kib"
}

# xz -9e of each file on every core; the sizes go to data/NAME/xz.sizes.
xzeach() {
  local tree="$1" out="$2"
  (cd "$tree" && find setup -type f -print0 |
    xargs -0 -P "$cores" -n 1 sh -c 'xz -9e -c -- "$0" | wc -c' >"$out")
}

# installed NAME KEY COMMAND...: one install under Wine by the launcher; the
# launcher's line goes to data/NAME/KEY.log after the file count is checked.
installed() {
  local name="$1" key="$2" line got want
  shift 2
  line=$(launch "$@")
  # The installer adds channel.cfg and uninstall.exe, and stamps a config.xml.
  want=$(find "$data/$name/tree/setup" -type f ! -name config.xml | wc -l)
  got=$(find "$data/$name/out" -path '*setup/*' -type f ! -name channel.cfg ! -name uninstall.exe ! -name config.xml |
    wc -l)
  [ "$got" = "$want" ] || { echo "$name $key: installed $got of $want files: $line"; exit 1; }
  echo "$line" >>"$data/$name/$key.log"
}

round() {
  local name="$1" dir="$data/$1" tmp
  rm -f "$dir"/*.exe "$dir"/*.7z "$dir"/*.zip
  timed deflate "$name" "$tools/tools/pack/pack" --stub "$bare" --codepage 1252 "$dir/tree" "$dir/deflate.exe"
  timed lzma "$name" "$tools/tools/pack/pack" --stub "$bare" --codepage 1252 --method lzma "$dir/tree" "$dir/lzma.exe"
  (cd "$dir/tree" && timed 7z "$name" 7zz a -t7z -mx9 "-mmt$cores" "$dir/solid.7z" setup)
  (cd "$dir/tree" && timed 7zzip "$name" 7zz a -tzip -mm=LZMA -mx9 "-mmt$cores" "$dir/lzma.zip" setup)
  timed xz "$name" bash -c "$(declare -f xzeach); cores=$cores; xzeach '$dir/tree' '$dir/xz.sizes'"
  timed nsis "$name" makensis -V1 "-DTARGET=$nsistarget" "-XSetCompressor /SOLID /FINAL lzma" -DSTARTSETUP \
    "-DSOURCE=$dir/tree/setup" "-DOUTFILE=$dir/nsis.exe" bench/builder/corpus.nsi

  tmp="$(win "$dir/out")"
  for key in deflate lzma; do
    rm -rf "$dir/out" && mkdir -p "$dir/out"
    installed "$name" "install-$key" -e "TMP=$tmp" -e "TEMP=$tmp" -s "$(win "$dir/stamp")" "$(win "$dir/$key.exe")" 1 x
  done
  rm -rf "$dir/out"
  installed "$name" install-nsis -s "$(win "$dir/stamp")" "$(win "$dir/nsis.exe")" /S "/D=$tmp"
  echo "$name round $2: packed deflate $(tail -1 "$dir/deflate.ms") ms, lzma $(tail -1 "$dir/lzma.ms") ms," \
    "7z $(tail -1 "$dir/7z.ms") ms; installed deflate $(field ms "$(tail -1 "$dir/install-deflate.log")") ms," \
    "lzma $(field ms "$(tail -1 "$dir/install-lzma.log")") ms"
}

# med NAME FILE: the median of the numbers in data/NAME/FILE, one a line.
med() { median $(cat "$data/$1/$2"); }
# launched NAME KEY FIELD: the median of FIELD over the launcher's lines.
launched() { local l values=(); while read -r l; do values+=("$(field "$3" "$l")"); done <"$data/$1/$2.log"; median "${values[@]}"; }
# The largest dictionary the installer holds for an LZMA entry: the largest
# LZMA entry and one byte (the packer fits each dictionary to its entry),
# at most the 64 MiB of the preset.
largestdictionary() {
  "$tools/tools/inspect/inspect" list --json "$1" | grep '"method": "lzma"' |
    sed 's/.*"size": \([0-9]*\),.*/\1/' | awk -v most=67108864 '{ if ($1 + 1 > m) m = $1 + 1 } END { print (m > most ? most : m) + 0 }'
}

report() {
  local name="$1" dir="$data/$1" d l
  local deflate lzma solid zip xz nsis
  deflate=$(stat -c %s "$dir/deflate.exe") lzma=$(stat -c %s "$dir/lzma.exe")
  solid=$(stat -c %s "$dir/solid.7z") zip=$(stat -c %s "$dir/lzma.zip") nsis=$(stat -c %s "$dir/nsis.exe")
  xz=$(awk '{s += $1} END {print s}' "$dir/xz.sizes")
  echo "== $name: $(find "$dir/tree/setup" -type f | wc -l) files, $(mib "$(du -sb "$dir/tree/setup" | cut -f1)") MiB;" \
    "medians of $rounds rounds, $cores cores; both packages carry the $(mib "$(stat -c %s "$bare")") MiB program$(bench_mark)"
  printf '%-30s %12s %7s %10s %10s\n' "" "bytes" "x defl" "pack ms" "peak MiB"
  row() { printf '%-30s %12s %7s %10s %10s\n' "$1" "$2" "x$(ratio "$2" "$deflate")" "$(med "$name" "$3.ms")" \
    "$(mib $(($(med "$name" "$3.kib") * 1024)))"; }
  row "package, deflate" "$deflate" deflate
  row "package, LZMA" "$lzma" lzma
  row "7z solid (LZMA2, -mx9)" "$solid" 7z
  row "7z ZIP, LZMA entries (-mx9)" "$zip" 7zzip
  row "xz -9e per file (sum)" "$xz" xz
  row "NSIS /SOLID lzma" "$nsis" nsis
  printf '%-30s %10s %12s %12s\n' "installed under Wine" "ms" "peak WS MiB" "setup after"
  for key in deflate lzma nsis; do
    printf '%-30s %10s %12s %12s\n' "$key" "$(launched "$name" "install-$key" ms)" \
      "$(mib $(($(launched "$name" "install-$key" peak_ws_kib) * 1024)))" "$(launched "$name" "install-$key" setup_ms)"
  done
}

goals() {
  local dir="$data/dlls" d l pd pl p7 wd wl dict
  d=$(stat -c %s "$dir/deflate.exe") l=$(stat -c %s "$dir/lzma.exe")
  pd=$(launched dlls install-deflate ms) pl=$(launched dlls install-lzma ms)
  p7=$(med dlls 7z.ms)
  wd=$(launched dlls install-deflate peak_ws_kib) wl=$(launched dlls install-lzma peak_ws_kib)
  dict=$(largestdictionary "$dir/lzma.exe")
  local judged="goal in brackets"
  if [ "$smoke" = 1 ]; then judged="smoke run: tiny trees, not judged"; fi
  echo "== goals on the DLL tree ($judged)$(bench_mark)"
  printf '%-52s x%s  [x0.72 or less]\n' "LZMA package / deflate package" "$(ratio "$l" "$d")"
  printf '%-52s x%s  [x1.50 or less]\n' "LZMA install / deflate install (time)" "$(ratio "$pl" "$pd")"
  printf '%-52s x%s  [x1.00 or less]\n' "packing LZMA / 7z solid (time, $cores cores)" "$(ratio "$(med dlls lzma.ms)" "$p7")"
  printf '%-52s %s MiB  [%s MiB or less: deflate %s + dictionary %s x 1 entry]\n' "LZMA install peak working set" \
    "$(mib $((wl * 1024)))" "$(mib $((wd * 1024 + dict)))" "$(mib $((wd * 1024)))" "$(mib "$dict")"
}

bench_rounds_begin
for r in $(seq 1 "$rounds"); do
  round dlls "$r"
  round corpus "$r"
done
bench_rounds_end
report dlls
report corpus
goals
rm -rf "$data"
