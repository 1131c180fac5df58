#!/usr/bin/env bash
# Sets everything up, builds the program and runs its main job: the bare
# program packs the sample trees of examples/ (or of the directory given)
# into install_test.exe under Wine.
#   scripts/demo.sh [DIR]   DIR holds setup/ (and optionally app/)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
bash scripts/install.sh
cmake --preset windows >/dev/null
cmake --build build/windows --target bootstrap

src="${1:-$here/examples}"
out="$here/build/demo"
rm -rf "$out"
mkdir -p "$out"
cp -r "$src"/. "$out"/
cp build/windows/source/bootstrap.exe "$out/bootstrap.exe"

source scripts/winenv.sh
trap winenv_stop EXIT
winenv_start
echo "== running the bare program in $out"
(cd "$out" && TMP='Z:\tmp' TEMP='Z:\tmp' wine bootstrap.exe | tr -d '\r')
echo "== exit code $?"
if [ -f "$out/install_test.exe" ]; then
  echo "package: $out/install_test.exe ($(stat -c %s "$out/install_test.exe") bytes)"
fi
