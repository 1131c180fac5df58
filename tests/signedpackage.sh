#!/usr/bin/env bash
# A package signed the way signing tools do it (a certificate table appended
# after the trailer) still installs, and its signature still verifies.
#   signedpackage.sh BOOTSTRAP_EXE STANDIN_SETUP_EXE WORKDIR
set -euo pipefail
bare="$1"; standin="$2"; work="$3"
rm -rf "$work" && mkdir -p "$work/src/setup" "$work/tmp" "$work/buildtmp"
win() { echo "Z:${1//\//\\}"; }
cp "$bare" "$work/src/bootstrap.exe"
cp "$standin" "$work/src/setup/rEdizo.exe"
printf '<setup><source path=""/></setup>' > "$work/src/setup/config.xml"
printf 'payload\r\n' > "$work/src/setup/payload.txt"

(cd "$work/src" && wine cmd /c "set TMP=$(win "$work/buildtmp")&& set TEMP=$(win "$work/buildtmp")&& bootstrap.exe" >/dev/null 2>&1)
[ -f "$work/src/install_test.exe" ] || { echo "no package built"; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Package Test Signer" -days 2 \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Package" \
  -in "$work/src/install_test.exe" -out "$work/src/signed.exe" >/dev/null
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/src/signed.exe" >/dev/null
echo "signed: $(stat -c %s "$work/src/signed.exe") bytes (unsigned $(stat -c %s "$work/src/install_test.exe"))"

record="$work/record.txt"
set +e
(cd "$work" && wine cmd /c "set TMP=$(win "$work/tmp")&& set TEMP=$(win "$work/tmp")&& set STANDIN_RECORD=$(win "$record")&& $(win "$work/src/signed.exe") 1 x" >"$work/output.txt" 2>&1)
status=$?
set -e
tr -d '\r' < "$work/output.txt"
[ "$status" = 0 ] || { echo "installer exit code $status"; exit 1; }
# Found right before the certificate table: at most 7 bytes of padding lie
# between the trailer and the table.
grep -aqE "find file end pos:-(9|1[0-6])\." "$work/output.txt" || { echo "trailer not found before the certificate table"; exit 1; }
[ -f "$record" ] || { echo "the setup program did not run"; exit 1; }
[ "$(cat "$work/tmp/setup/payload.txt")" = "$(printf 'payload\r\n')" ] || { echo "payload not extracted"; exit 1; }
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/src/signed.exe" >/dev/null || { echo "signature broken"; exit 1; }
echo "signed package installed; signature verifies"
