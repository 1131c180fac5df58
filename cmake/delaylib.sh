#!/usr/bin/env bash
# Makes a delay-load import library for a system DLL from mingw-w64's
# ordinary import library: every function it exports, loaded on first call.
#   delaylib.sh IMPORTLIB DLLNAME OUTPUT
set -euo pipefail
importlib="$1"; dll="$2"; output="$3"
prefix="${CROSS_PREFIX:-i686-w64-mingw32-}"
def="$output.def"
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  # 32-bit: C names carry a leading underscore and stdcall names their @N
  # decoration; dlltool -k drops the decoration from the names the DLL is
  # asked for. 64-bit names are plain.
  case "$prefix" in
  i686-*) "${prefix}nm" "$importlib" 2>/dev/null | awk '$2 == "T" && $3 ~ /^_/ { print substr($3, 2) }' ;;
  *) "${prefix}nm" "$importlib" 2>/dev/null | awk '$2 == "T" { print $3 }' ;;
  esac | sort -u
} >"$def"
"${prefix}dlltool" -k -d "$def" -D "$dll" --output-delaylib "$output"
