#!/usr/bin/env bash
# The native packer against the Windows builder: one tree packed both ways
# (scripts/pack.sh --builder native and --builder wine) gives archives A and
# B that are the same byte for byte, with names in code page 1252 and in 936,
# mixed-case names whose order the walk must get right, an empty file, a
# file of one read piece, an empty directory and a file past the builder's
# in-memory limit (32 MiB). The native package packed twice is the same file.
#   packcompare.sh BOOTSTRAP_EXE STANDIN_SETUP_EXE WORKDIR
set -uo pipefail
bare="$1"; standin="$2"; work="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BOOTSTRAP_EXE="$bare"
rm -rf "$work" && mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# region FILE START END: the bytes [START, END) of FILE
region() { tail -c +$(($2 + 1)) "$1" | head -c $(($3 - $2)); }
field32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
# archives PACKAGE PREFIX: PREFIX.a and PREFIX.b, the package's two archives
archives() {
    local size offa offb
    size=$(stat -c %s "$1")
    offa=$(field32 "$1" $((size - 81)))
    offb=$(field32 "$1" $((size - 45)))
    region "$1" "$offa" "$offb" >"$2.a"
    region "$1" "$offb" $((size - 81)) >"$2.b"
}

# maketree DIR NAME...: the common files, plus one file for each extra name
maketree() {
    local dir="$1"; shift
    mkdir -p "$dir/setup/Sub/deeper" "$dir/setup/sub2" "$dir/setup/empty dir" "$dir/app/bin"
    cp "$standin" "$dir/setup/rEdizo.exe"
    cp "$here/examples/setup/LoaderIcon.ico" "$dir/setup/LoaderIcon.ico"
    printf '<setup><source path=""/></setup>\r\n' >"$dir/setup/config.xml"
    : >"$dir/setup/empty.txt"
    head -c 16384 /dev/urandom >"$dir/setup/Sub/piece.bin"
    seq 1 20000 >"$dir/setup/Sub/deeper/numbers.txt"
    for n in zeta Alpha beta _under 10 9 Beta2 aa a.b; do printf '%s\n' "$n" >"$dir/setup/sub2/$n"; done
    printf 'application\r\n' >"$dir/app/bin/app.txt"
    local name
    for name in "$@"; do printf '%s\n' "$name" >"$dir/setup/$name"; done
}

compare() { # compare LABEL CODEPAGE TREE
    local label="$1" cp="$2" tree="$3"
    bash "$here/scripts/pack.sh" --builder wine --codepage "$cp" "$tree" "$work/$label-wine.exe" >"$work/$label-wine.txt" 2>&1 ||
        { cat "$work/$label-wine.txt"; fail "$label: the Windows builder failed"; return; }
    bash "$here/scripts/pack.sh" --codepage "$cp" "$tree" "$work/$label-native.exe" >"$work/$label-native.txt" 2>&1 ||
        { cat "$work/$label-native.txt"; fail "$label: the native packer failed"; return; }
    grep -q "packing .* natively" "$work/$label-native.txt" || fail "$label: pack.sh did not pack natively"
    archives "$work/$label-wine.exe" "$work/$label-wine"
    archives "$work/$label-native.exe" "$work/$label-native"
    for part in a b; do
        if cmp "$work/$label-wine.$part" "$work/$label-native.$part"; then
            echo "$label: archive ${part^^} identical ($(stat -c %s "$work/$label-native.$part") bytes)"
        else
            fail "$label: archive ${part^^} differs"
            unzip -Z1 "$work/$label-wine.$part" >"$work/$label-wine.$part.names" 2>/dev/null
            unzip -Z1 "$work/$label-native.$part" >"$work/$label-native.$part.names" 2>/dev/null
            diff "$work/$label-wine.$part.names" "$work/$label-native.$part.names" | head -20
        fi
    done
    local size
    size=$(stat -c %s "$work/$label-native.exe")
    cmp <(tail -c 81 "$work/$label-wine.exe" | tail -c +5 | head -c 32) \
        <(tail -c 81 "$work/$label-native.exe" | tail -c +5 | head -c 32) || fail "$label: digest A differs"
    [ "$(field32 "$work/$label-native.exe" $((size - 81)))" -gt 0 ] || fail "$label: no stub"
}

echo "== code page 1252, with a file past the in-memory limit"
maketree "$work/latin" "Café.txt" "naïve Ünïcode.txt" "Zürich" "élan"
# Compressible but not trivially: 36 MiB of numbered lines with noise.
awk 'BEGIN { srand(7); for (i = 0; i < 1700000; i++) printf "%08d %06x %s\n", i, int(rand() * 16777216), "line" }' \
    >"$work/latin/setup/Sub/large.log"
[ "$(stat -c %s "$work/latin/setup/Sub/large.log")" -gt $((32 << 20)) ] || fail "large.log is not past 32 MiB"
compare latin 1252 "$work/latin"

echo "== code page 936"
maketree "$work/chinese" "说明.txt" "数据 文件.bin" "目录"
mkdir -p "$work/chinese/setup/深层 目录" && printf '深层文件\r\n' >"$work/chinese/setup/深层 目录/文件.txt"
compare chinese 936 "$work/chinese"

echo "== the same tree packed twice natively"
"$here/build/inspect/tools/pack/pack" --stub "$bare" --codepage 1252 "$work/latin" "$work/again.exe" >/dev/null ||
    fail "packing again failed"
cmp "$work/again.exe" "$work/latin-native.exe" || fail "packing the same tree twice gave different packages"
"$here/build/inspect/tools/pack/pack" --stub "$bare" --threads 1 --codepage 1252 "$work/latin" "$work/single.exe" >/dev/null ||
    fail "packing on one thread failed"
cmp "$work/single.exe" "$work/latin-native.exe" || fail "one thread and every core gave different packages"

rm -rf "$work"
[ $failures = 0 ] && echo "native packer against the Windows builder: all checks passed"
exit $((failures > 0))
