#!/usr/bin/env bash
# Every run-time lookup of a system function goes through the typed helper
# (source/win32/systemfunction.h), which adds the calling convention: no
# GetProcAddress anywhere else in the product, its tools or its tests.
#   checklookups.sh SOURCE_ROOT
set -uo pipefail
root="$1"
found=$(cd "$root" && grep -rn --include='*.cpp' --include='*.h' 'GetProcAddress' source tools tests bench fuzz examples |
  grep -v '^source/win32/systemfunction.h:')
if [ -n "$found" ]; then
  echo "GetProcAddress outside the typed lookup helper:"
  echo "$found"
  exit 1
fi
echo "every run-time lookup goes through systemfunction"
