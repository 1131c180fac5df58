#!/usr/bin/env bash
# The host check of scripts/host.sh as a table: the path chosen when the
# 32-bit probe runs or does not, when BOOTSTRAP_WINE forces either way or is
# wrong, and when a parent script already chose; and the probe itself is a
# 32-bit x86 Linux program that exits 0 (as far as this host can tell).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

source "$here/scripts/host.sh"

# Stand-ins for the probe: one that runs (and leaves a mark), one that no
# Linux host executes (the probe with an unknown machine number).
printf '#!/bin/sh\ntouch "%s/ran"\n' "$work" >"$work/runs"
chmod +x "$work/runs"
host_writeprobe "$work/foreign"
printf '\377\377' | dd of="$work/foreign" bs=1 seek=18 conv=notrunc status=none

# row: name | BOOTSTRAP_WINE | inherited BOOTSTRAP_WINE_BITS | probe | bits | reason text | probe runs
rows=(
  "32-bit runs|||runs|32|executes 32-bit x86 programs|yes"
  "32-bit does not run|||foreign|64|does not execute 32-bit x86 programs (Exec format error)|no"
  "forced 64 where 32-bit runs|64||runs|64|forced by BOOTSTRAP_WINE=64|no"
  "forced 32 where 32-bit does not run|32||foreign|32|forced by BOOTSTRAP_WINE=32|no"
  "inherited from the parent script||64|runs|64|inherited|no"
  "forced over an inherited choice|32|64|runs|32|forced by BOOTSTRAP_WINE=32|no"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name force inherited probe bits reason probed <<<"$row"
  rm -f "$work/ran"
  out="$(
    unset BOOTSTRAP_WINE BOOTSTRAP_WINE_BITS BOOTSTRAP_WINE_REASON
    [ -z "$force" ] || export BOOTSTRAP_WINE="$force"
    [ -z "$inherited" ] || export BOOTSTRAP_WINE_BITS="$inherited" BOOTSTRAP_WINE_REASON="inherited"
    export BOOTSTRAP_PROBE32="$work/$probe"
    host_choose check && echo "bits=$BOOTSTRAP_WINE_BITS"
  )"
  grep -qx "bits=$bits" <<<"$out" || fail "$name: expected path $bits: $out"
  grep -qF "check: Windows path $bits: " <<<"$out" || fail "$name: no line naming path $bits: $out"
  grep -qF "$reason" <<<"$out" || fail "$name: reason '$reason' not said: $out"
  if [ "$probed" = yes ] && [ ! -e "$work/ran" ]; then fail "$name: the probe did not run"; fi
  if [ "$probed" = no ] && [ "$probe" = runs ] && [ -e "$work/ran" ]; then fail "$name: the probe ran"; fi
  echo "ok: $name -> $bits"
done

out="$(BOOTSTRAP_WINE=16 host_choose check 2>&1)"
status=$?
[ $status = 2 ] || fail "BOOTSTRAP_WINE=16: exit $status"
grep -qF "BOOTSTRAP_WINE=16 is neither 32 nor 64" <<<"$out" || fail "BOOTSTRAP_WINE=16: $out"
echo "ok: an unknown BOOTSTRAP_WINE is refused"

# The real probe: a 32-bit x86 executable whose entry is its code.
host_writeprobe "$work/probe"
header="$(readelf -h -l "$work/probe" 2>&1)"
for want in "Class: *ELF32" "Machine: *Intel 80386" "Type: *EXEC" "Entry point address: *0x8048054" "LOAD .* R E"; do
  grep -qE "$want" <<<"$header" || fail "the probe: '$want' not in its header"
done
[ "$(stat -c %s "$work/probe")" = 93 ] || fail "the probe is $(stat -c %s "$work/probe") bytes, not 93"
echo "ok: the probe is a 32-bit x86 program"

[ $failures = 0 ] && echo "host check: all rows passed"
exit $((failures > 0))
