#!/usr/bin/env bash
# The packages the LZMA installer tests install under Wine: one tree packed
# by the native packer (scripts/pack.sh) with deflate and with LZMA, and the
# tree itself beside them to compare with what the installer writes.
#   lzmapackages.sh BOOTSTRAP_EXE STANDIN_SETUP_EXE OUTDIR
# OUTDIR/src (the tree), OUTDIR/deflate.exe, OUTDIR/lzma.exe.
set -euo pipefail
bare="$1"; standin="$2"; out="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BOOTSTRAP_EXE="$bare"
rm -rf "$out" && mkdir -p "$out/src/setup/docs/deeper" "$out/src/setup/bin" "$out/src/app"
src="$out/src"
cp "$standin" "$src/setup/rEdizo.exe"
cp "$here/examples/setup/LoaderIcon.ico" "$src/setup/LoaderIcon.ico"
printf '<setup><source path=""/></setup>' >"$src/setup/config.xml"
seq 1 200000 >"$src/setup/docs/deeper/numbers.txt"
: >"$src/setup/docs/empty.txt"
# Executables, as the trees of our users hold them; noise that LZMA cannot
# shrink (deflated instead).
cp "$bare" "$src/setup/bin/program.dll"
head -c 65536 /dev/urandom >"$src/setup/bin/noise.bin"
printf 'application\r\n' >"$src/app/app.txt"
for method in deflate lzma; do
    bash "$here/scripts/pack.sh" --method "$method" "$src" "$out/$method.exe" >"$out/$method.txt" 2>&1 ||
        { cat "$out/$method.txt"; exit 1; }
done
echo "lzma packages made in $out"
