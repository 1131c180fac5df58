#!/usr/bin/env bash
# Fails when the program imports a DLL that is not part of Windows itself.
set -euo pipefail
exe="$1"
allowed="kernel32.dll user32.dll gdi32.dll gdiplus.dll ole32.dll oleaut32.dll advapi32.dll shell32.dll comctl32.dll msvcrt.dll"
dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || { echo "no imports found in $exe"; exit 1; }
bad=0
for d in $dlls; do
  case " $allowed " in
    *" $d "*) echo "import: $d" ;;
    *) echo "import not allowed: $d"; bad=1 ;;
  esac
done
exit $bad
