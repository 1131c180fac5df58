#!/usr/bin/env bash
# A package made by the native packer (scripts/pack.sh, default builder)
# installs under Wine: the installer finds the trailer, checks both digests,
# extracts the setup tree, stamps config.xml and starts the setup program;
# the package carries the icon file's images.
#   nativeinstall.sh BOOTSTRAP_EXE STANDIN_SETUP_EXE WORKDIR
set -uo pipefail
bare="$1"; standin="$2"; work="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BOOTSTRAP_EXE="$bare"
rm -rf "$work" && mkdir -p "$work/src/setup/docs/deeper" "$work/src/app" "$work/tmp"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
win() { echo "Z:${1//\//\\}"; }

cp "$standin" "$work/src/setup/rEdizo.exe"
cp "$here/examples/setup/LoaderIcon.ico" "$work/src/setup/LoaderIcon.ico"
printf '<setup><source path=""/></setup>' >"$work/src/setup/config.xml"
printf 'payload\r\n' >"$work/src/setup/payload.txt"
seq 1 50000 >"$work/src/setup/docs/deeper/numbers.txt"
: >"$work/src/setup/docs/empty.txt"
printf 'application\r\n' >"$work/src/app/app.txt"

bash "$here/scripts/pack.sh" "$work/src" "$work/package.exe" >"$work/pack.txt" 2>&1 ||
    { cat "$work/pack.txt"; fail "packing failed"; }
grep -q "natively" "$work/pack.txt" || fail "pack.sh did not pack natively"

record="$work/record.txt"
(cd "$work" && wine cmd /c "set TMP=$(win "$work/tmp")&& set TEMP=$(win "$work/tmp")&& set STANDIN_RECORD=$(win "$record")&& $(win "$work/package.exe") 1 x" >"$work/output.txt" 2>&1)
status=$?
[ "$status" = 0 ] || { tr -d '\r' <"$work/output.txt"; fail "installer exit code $status"; }
grep -aq "find file end pos:-9\." "$work/output.txt" || fail "the installer did not find the trailer at the end"
grep -aq "MD5 is uncorrect" "$work/output.txt" && fail "the installer found a digest mismatch"
[ -f "$record" ] || fail "the setup program did not run"
for f in payload.txt docs/deeper/numbers.txt docs/empty.txt rEdizo.exe LoaderIcon.ico; do
    cmp -s "$work/src/setup/$f" "$work/tmp/setup/$f" || fail "setup/$f not extracted as packed"
done
grep -q "path=\"$(win "$work/package.exe" | sed 's/\\/\\\\/g')\"" "$work/tmp/setup/config.xml" ||
    grep -qF "package.exe" "$work/tmp/setup/config.xml" || fail "config.xml not stamped: $(cat "$work/tmp/setup/config.xml")"
tr -d '\r' <"$record" | grep -q "^VQNAUTOI=1$" || fail "the setup program did not receive VQNAUTOI"

[ $failures = 0 ] && echo "natively packed package installed under Wine"
rm -rf "$work"
exit $((failures > 0))
