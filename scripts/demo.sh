#!/usr/bin/env bash
# Sets everything up, builds the program and runs its main job under Wine:
# the bare program packs a setup tree (and an app tree) into
# install_test.exe, then the package is run as an end user would run it.
#   scripts/demo.sh [DIR]   DIR holds setup/ (and optionally app/); default:
#                           examples/, with the sample setup program as
#                           setup/rEdizo.exe
# On a host that does not execute 32-bit programs (scripts/host.sh) the demo
# runs the same sources built for 64-bit Windows under 64-bit Wine, and says
# so; then it runs again with the shipped 32-bit program under 32-bit Wine in
# an emulated machine (scripts/vm32.sh), whose results and screenshots land
# in build/demo/vm32.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
source scripts/host.sh
host_choose demo.sh || exit 2
preset="$(host_windows_preset)"
build="build/$preset"
# In the emulated machine (VM32_OUT is its shared output folder) the host
# has built everything already, and a tree given to the demo waits there.
guest=0
if [ -n "${VM32_OUT:-}" ]; then
  guest=1
  [ -d "$VM32_OUT/tree" ] && set -- "$VM32_OUT/tree"
else
  bash scripts/install.sh >/dev/null
  cmake --preset "$preset" >/dev/null
  cmake --build "$build" --target bootstrap samplesetup backdrop
fi

out="$here/build/demo"
rm -rf "$out"
mkdir -p "$out/tmp"
if [ $# -ge 1 ]; then
  cp -r "$1"/. "$out"/
else
  cp -r examples/setup examples/app "$out"/
  cp "$build/examples/samplesetup.exe" "$out/setup/rEdizo.exe"
fi
cp "$build/source/bootstrap.exe" "$out/bootstrap.exe"

source scripts/winenv.sh
trap winenv_stop EXIT
winenv_start
tmpwin="Z:${out//\//\\}\\tmp"

echo "== building the package: bootstrap.exe ($BOOTSTRAP_WINE_BITS-bit build, $build) in $out"
set +e
# Wine keeps its own TMP: set it inside the Windows environment.
(cd "$out" && wine cmd /c "set TMP=$tmpwin&& set TEMP=$tmpwin&& bootstrap.exe" | tr -d '\r')
status=$?
set -e
echo "== builder exit code $status"
# A failed build can leave a partial install_test.exe: never run it.
if [ "$status" -ne 0 ]; then
  echo "the build failed (its lines are above); nothing is run"
  exit 1
fi
[ -f "$out/install_test.exe" ] || { echo "no package was written"; exit 1; }
echo "package: $out/install_test.exe ($(stat -c %s "$out/install_test.exe") bytes)"

echo "== running the package (TMP=$tmpwin)"
set +e
(cd "$out" && wine cmd /c "set TMP=$tmpwin&& set TEMP=$tmpwin&& Z:${out//\//\\}\\install_test.exe" | tr -d '\r')
status=$?
set -e
echo "== installer exit code $status"
if [ -d "$out/tmp/setup" ]; then
  echo "== workspace $out/tmp/setup"
  (cd "$out/tmp/setup" && find . -type f | sort)
  for f in channel.cfg config.xml setup-report.txt; do
    [ -f "$out/tmp/setup/$f" ] && { echo "-- $f"; cat "$out/tmp/setup/$f"; echo; }
  done
fi

# Screenshots of the installer window as an end user sees it, over a desktop
# picture. The window shows while the setup tree is unpacked: a copy of the
# sample tree with a few thousand small files keeps it up long enough to be
# captured.
if [ $# -eq 0 ]; then
  shots="$out/screens"
  rm -rf "$shots" && mkdir -p "$shots/tree"
  cp -r "$out/setup" "$shots/tree/setup"
  mkdir -p "$shots/tree/setup/filler"
  for i in $(seq 1 3000); do printf 'filler file %05d\r\n' "$i" > "$shots/tree/setup/filler/f$i.txt"; done
  cp "$out/bootstrap.exe" "$shots/tree/"
  (cd "$shots/tree" && wine bootstrap.exe >/dev/null 2>&1)
  if [ -f "$shots/tree/install_test.exe" ]; then
    echo "== screenshots of the installer window"
    bash scripts/screenshots.sh "$shots" "Morvane安装程序" -- "$shots/tree/install_test.exe" >/dev/null 2>&1 ||
      echo "screenshots could not be taken"
    ls "$shots"/*.png 2>/dev/null | sed 's/^/  /'
  fi
fi

if [ $guest = 1 ]; then
  # What was shown, without the screenshots' copy of thousands of files.
  tar -C "$out" --exclude=./screens/tree -cf - . | tar -C "$VM32_OUT" -xf -
elif [ "$BOOTSTRAP_WINE_BITS" = 64 ]; then
  echo "== the shipped 32-bit program (build/windows) under 32-bit Wine in an emulated machine (scripts/vm32.sh)"
  cmake --preset windows >/dev/null
  cmake --build build/windows --target bootstrap samplesetup backdrop
  guestout="$out/vm32"
  rm -rf "$guestout" && mkdir -p "$guestout"
  [ $# -ge 1 ] && cp -r "$1" "$guestout/tree"
  BOOTSTRAP_VM32_OUT="$guestout" BOOTSTRAP_VM32_COPY=build/windows bash scripts/vm32.sh run scripts/demo.sh
  echo "== the emulated machine's demo: $guestout"
  ls "$guestout"/screens/*.png 2>/dev/null | sed 's/^/  /'
fi
