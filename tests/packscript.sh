#!/usr/bin/env bash
# scripts/pack.sh end to end under Wine: a tree with names beyond ASCII packed
# by the real bare program, unsigned and signed with a throw-away certificate,
# judged by the native inspector (scripts/inspect.sh) and by the Windows one;
# then the failures: no setup tree, no setup program, a builder failure, a
# signing failure, names the chosen code page cannot hold. OUTPUT is written
# only on success.
#   packscript.sh BOOTSTRAP_EXE STANDIN_SETUP_EXE INSPECT_EXE WORKDIR
set -uo pipefail
bare="$1"; standin="$2"; inspectexe="$3"; work="$4"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BOOTSTRAP_EXE="$bare"
rm -rf "$work" && mkdir -p "$work/out"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pack() { bash "$here/scripts/pack.sh" "$@" >"$work/pack.txt" 2>&1; }
inspect() { bash "$here/scripts/inspect.sh" "$@"; }
win() { echo "Z:${1//\//\\}"; }

src="$work/src"
deep="$src/setup/My Docs/深层 目录"
mkdir -p "$deep" "$src/app/bin"
cp "$standin" "$src/setup/rEdizo.exe"
cp "$here/examples/setup/LoaderIcon.ico" "$src/setup/LoaderIcon.ico"
printf '<setup><source path=""/></setup>' >"$src/setup/config.xml"
printf '深层文件\r\n' >"$deep/文件.txt"
printf 'application\r\n' >"$src/app/bin/app.txt"

echo "== pack, unsigned"
pack "$src" "$work/out/package.exe" || { cat "$work/pack.txt"; fail "pack.sh failed"; }
grep -q "names stored in code page 936" "$work/pack.txt" || fail "code page 936 not chosen for the Chinese names"
inspect verify "$work/out/package.exe" || fail "verify of the packed package: exit $?"
inspect list "$work/out/package.exe" | grep -qF 'setup\My Docs\深层 目录\文件.txt' || fail "the Chinese name is not listed"
inspect extract "$work/out/package.exe" "$work/extracted" || fail "extract: exit $?"
diff -r "$src" "$work/extracted" || fail "the extracted trees differ from the source"

echo "== pack, signed"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Pack Test Signer" -days 2 \
    -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
pack --sign "$work/cert.pem" "$work/key.pem" "$src" "$work/out/signed.exe" || { cat "$work/pack.txt"; fail "pack.sh --sign failed"; }
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/out/signed.exe" >/dev/null || fail "the signature does not verify"
inspect info "$work/out/signed.exe" | grep -q "signature: certificate table" || fail "info does not see the signature"
inspect verify "$work/out/signed.exe" || fail "verify of the signed package: exit $?"

echo "== the Windows inspector under Wine"
wine "$inspectexe" verify "$(win "$work/out/signed.exe")" >"$work/wine.txt" 2>&1 || fail "inspect.exe verify: exit $?"
wine "$inspectexe" list "$(win "$work/out/signed.exe")" | tr -d '\r' | grep -qF '深层 目录' || fail "inspect.exe does not list the Chinese name"

echo "== damaged copies"
cp "$work/out/package.exe" "$work/damaged.exe"
size=$(stat -c %s "$work/damaged.exe")
offsetB=$(od -An -tu4 -j $((size - 45)) -N4 "$work/damaged.exe" | tr -d ' ')
printf '\xff' | dd of="$work/damaged.exe" bs=1 seek=$((offsetB + 10)) conv=notrunc status=none
inspect verify "$work/damaged.exe" >"$work/verify.txt"; status=$?
[ $status = 1 ] || fail "a byte changed in archive B: exit $status"
grep -q "archive B: digest mismatch" "$work/verify.txt" || fail "no digest finding for archive B: $(cat "$work/verify.txt")"
# Cut inside archive B: the search then finds the marker text the program
# itself holds, whose "offsets" are invalid, as the installer would.
head -c $((size - 100)) "$work/out/package.exe" >"$work/truncated.exe"
inspect verify "$work/truncated.exe" >"$work/verify.txt"; status=$?
[ $status = 1 ] || fail "a truncated package: exit $status"
grep -q "trailer offsets invalid" "$work/verify.txt" || fail "truncated: $(cat "$work/verify.txt")"
inspect verify "$src/setup/config.xml" >/dev/null; status=$?
[ $status = 2 ] || fail "a file that is no package: exit $status"

echo "== failures"
expectfailure() { # expectfailure LABEL TEXT ARGS...: exits non-zero, says TEXT, writes no OUTPUT
    local label="$1" text="$2"; shift 2
    printf 'old' >"$work/out/kept.exe"
    if pack "$@" "$work/out/kept.exe"; then fail "$label: pack.sh succeeded"; fi
    grep -qF -- "$text" "$work/pack.txt" || fail "$label: '$text' not said: $(cat "$work/pack.txt")"
    [ "$(cat "$work/out/kept.exe")" = old ] || fail "$label: OUTPUT was written"
    [ -z "$(ls -A "$work/out" | grep -v -e '^package.exe$' -e '^signed.exe$' -e '^kept.exe$')" ] || fail "$label: leftovers beside OUTPUT"
}
mkdir -p "$work/nosetup/app"
expectfailure "no setup tree" "no setup tree" "$work/nosetup"
mkdir -p "$work/noprogram/setup" && printf 'x' >"$work/noprogram/setup/readme.txt"
expectfailure "no setup program" "no setup program" "$work/noprogram"
cp -r "$src" "$work/huge" && truncate -s 2G "$work/huge/setup/huge.bin"
expectfailure "builder failure" "2 GiB or larger" "$work/huge"
grep -q "the builder failed" "$work/pack.txt" || fail "builder failure: not said"
printf 'not a key\n' >"$work/bad.pem"
expectfailure "signing failure" "signing failed" --sign "$work/cert.pem" "$work/bad.pem" "$src"
expectfailure "unnameable names" "深层 目录" --codepage 1252 "$src"
grep -q "cannot be written in code page 1252" "$work/pack.txt" || fail "unnameable names: not said"

rm -rf "$work"
[ $failures = 0 ] && echo "pack.sh end to end: all checks passed"
exit $((failures > 0))
