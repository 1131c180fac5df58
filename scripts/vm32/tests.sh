#!/usr/bin/env bash
# The job scripts/test.sh gives the emulated machine (scripts/vm32.sh run) on
# a host without 32-bit: the shipped 32-bit program's tests, built on the
# host in build/windows, under 32-bit Wine, reported by ctest.
#   VM32_TESTS   a ctest name pattern to run instead of the list below
set -uo pipefail
source scripts/host.sh
host_choose vm32-tests || exit 2
[ "$BOOTSTRAP_WINE_BITS" = 32 ] || { echo "vm32-tests: this machine runs no 32-bit programs either"; exit 1; }
source scripts/winenv.sh
trap winenv_stop EXIT
winenv_start
echo "== the shipped 32-bit program's tests under 32-bit Wine ($(nproc) emulated cores)"
# The zip64 row of 70 000 entries takes over 25 minutes here; the host's
# 64-bit run keeps it.
export GTEST_FILTER="-Zip64Test.SeventyThousandEntriesWriteAndReadBack"
ctest --test-dir build/windows -LE static ${VM32_TESTS:+-R "$VM32_TESTS"} --output-on-failure -j "$(nproc)" --timeout 3600
