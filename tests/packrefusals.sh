#!/usr/bin/env bash
# The native packer's refusals and icon handling, without Wine: each refusal
# exits non-zero with a message naming the file and leaves OUTPUT as it was
# with nothing beside it; a missing or damaged icon file keeps the program's
# own icon (the bare program's bytes exactly, with the builder's line), a
# sound one changes the resources and the package verifies.
#   packrefusals.sh BOOTSTRAP_EXE WORKDIR
set -uo pipefail
bare="$1"; work="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
tools="$here/build/inspect"
if [ ! -f "$tools/build.ninja" ]; then
    (cd "$here" && cmake --preset inspect) >/dev/null || exit 1
fi
cmake --build "$tools" --target pack inspect >/dev/null || exit 1
pack() { "$tools/tools/pack/pack" --stub "$bare" "$@" >"$work/pack.txt" 2>&1; }
rm -rf "$work" && mkdir -p "$work/out"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

good="$work/good"
mkdir -p "$good/setup/docs"
cp "$bare" "$good/setup/rEdizo.exe"
cp "$here/examples/setup/LoaderIcon.ico" "$good/setup/LoaderIcon.ico"
printf 'readme\r\n' >"$good/setup/docs/readme.txt"

refused() { # refused LABEL TEXT TREE [ARGS...]
    local label="$1" text="$2" tree="$3"; shift 3
    printf 'old' >"$work/out/kept.exe"
    if pack "$@" "$tree" "$work/out/kept.exe"; then fail "$label: packed"; fi
    grep -qF -- "$text" "$work/pack.txt" || fail "$label: '$text' not said: $(cat "$work/pack.txt")"
    [ "$(cat "$work/out/kept.exe")" = old ] || fail "$label: OUTPUT was written"
    [ "$(ls -A "$work/out")" = kept.exe ] || fail "$label: leftovers beside OUTPUT: $(ls -A "$work/out")"
}
variant() { rm -rf "$work/$1" && cp -r "$good" "$work/$1" && echo "$work/$1"; }

echo "== refusals"
t=$(variant noprogram) && rm "$t/setup/rEdizo.exe"
refused "no setup program" "setup/rEdizo.exe: no setup program" "$t"
t=$(variant nosetup) && rm -rf "$t/setup" && mkdir -p "$t/app"
refused "no setup tree" "no setup tree" "$t"
t=$(variant huge) && truncate -s 2G "$t/setup/huge.bin"
refused "file of 2 GiB" "setup/huge.bin: is 2 GiB or larger" "$t"
t=$(variant loop) && ln -s .. "$t/setup/docs/back"
refused "loop" "setup/docs/back: leads back to setup" "$t"
t=$(variant dangling) && ln -s nowhere "$t/setup/dangling"
refused "unreadable file" "setup/dangling:" "$t"
t=$(variant unnameable) && printf 'x' >"$t/setup/日本.txt"
refused "name outside the code page" "setup/日本.txt: code page 1252 cannot hold this name" "$t" --codepage 1252
t=$(variant appfault) && mkdir -p "$t/app" && mkfifo "$t/app/pipe"
refused "not a file in app" "app/pipe: is neither a file nor a directory" "$t"
printf 'old' >"$work/out/kept.exe"
if "$tools/tools/pack/pack" --stub "$work/absent.exe" "$good" "$work/out/kept.exe" >"$work/pack.txt" 2>&1; then
    fail "a missing bare program: packed"
fi
grep -q "absent.exe: the bare program cannot be read" "$work/pack.txt" || fail "missing bare program: $(cat "$work/pack.txt")"

echo "== icon files"
stubof() { head -c "$(od -An -tu4 -j $(($(stat -c %s "$1") - 81)) -N4 "$1" | tr -d ' ')" "$1"; }
pack "$good" "$work/out/good.exe" || fail "a sound tree: $(cat "$work/pack.txt")"
cmp -s <(stubof "$work/out/good.exe") "$bare" && fail "a sound icon file left the program as it was"
"$tools/tools/inspect/inspect" verify --codepage 1252 "$work/out/good.exe" >/dev/null || fail "the package does not verify"
t=$(variant noicon) && rm "$t/setup/LoaderIcon.ico"
pack "$t" "$work/out/noicon.exe" || fail "no icon file: $(cat "$work/pack.txt")"
grep -q "^Open IconFile Failed!$" "$work/pack.txt" || fail "no icon file: the builder's line is missing"
cmp -s <(stubof "$work/out/noicon.exe") "$bare" || fail "no icon file: the program was changed"
t=$(variant damagedicon) && truncate -s 40 "$t/setup/LoaderIcon.ico"
pack "$t" "$work/out/damagedicon.exe" || fail "damaged icon file: $(cat "$work/pack.txt")"
grep -q "IconFile is not a complete icon file" "$work/pack.txt" || fail "damaged icon file: not said"
cmp -s <(stubof "$work/out/damagedicon.exe") "$bare" || fail "damaged icon file: the program was changed"

rm -rf "$work"
[ $failures = 0 ] && echo "native packer refusals and icon files: all checks passed"
exit $((failures > 0))
