#!/usr/bin/env bash
# Checks what a shipped program asks of Windows before and while it runs:
#  - it imports only system DLLs, and only functions on the Windows XP
#    allowlist (a new import fails until someone checks it and adds it);
#  - the DLLs it must load late (GDI+) appear only in its delay-load tables,
#    whose functions count as imports too;
#  - it is a PE32 program for 32-bit x86, and its header's OS and subsystem
#    versions let XP's loader accept it (<= 5.1).
#   checkimports.sh EXE ALLOWLIST [DELAYED_DLL ...]
# ALLOWLIST: one "dll function minimum-client..." per line, # starts a comment.
set -euo pipefail
export LC_ALL=C
exe="$1"
allowlist="$2"
shift 2
delayed=" $(printf '%s ' "$@" | tr 'A-Z' 'a-z')"
objdump="${CROSS_PREFIX:-i686-w64-mingw32-}objdump"
headers=$("$objdump" -p "$exe")
sections=$("$objdump" -h "$exe")
bad=0

# --- the file: a PE32 program for 32-bit x86, the one Windows XP runs ---
format=$("$objdump" -f "$exe" | sed -n 's/.*file format //p' | head -n1)
if [ "$format" = pei-i386 ]; then
  echo "header: PE32 for 32-bit x86 ($format)"
else
  echo "header: not a PE32 program for 32-bit x86 (file format ${format:-unknown})"
  bad=1
fi

# --- header fields ---
field() { awk -v f="$1" '$1 == f { print $2; exit }' <<<"$headers"; }
imagebase=$((16#$(field ImageBase)))
for pair in MajorOSystemVersion:MinorOSystemVersion MajorSubsystemVersion:MinorSubsystemVersion; do
  major=$(field "${pair%%:*}")
  minor=$(field "${pair##*:}")
  [ -n "$major" ] && [ -n "$minor" ] || { echo "no ${pair%%:*} in $exe"; exit 1; }
  if [ $((major * 100 + minor)) -gt 501 ]; then
    echo "header: ${pair%%:*} $major.$minor is newer than Windows XP (5.1)"
    bad=1
  else
    echo "header: ${pair%%:*} $major.$minor"
  fi
done

# --- ordinary imports: "dll function" lines from objdump's import tables ---
imports=$(awk '
  /^\tDLL Name: / { dll = tolower($3); next }
  /^$/ { next }
  dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+/ { print dll, $3 }
  /^PE File Base Relocations/ { exit }' <<<"$headers")
[ -n "$imports" ] || { echo "no imports found in $exe"; exit 1; }

# --- delay-load imports ---
# The linker fills no data directory entry for them, so the tables are found
# the way the run-time helper finds them: a delay descriptor (attributes 1 =
# RVAs, then the DLL name's RVA) for each DLL name in the file, then its name
# table of hint/name RVAs, ending in zero.
# Sections as RVA, size and file offset, for moving between RVAs and offsets.
secrva=() secsize=() secoff=()
while read -r _ _ size vma _ off _; do
  secrva+=($((16#$vma - imagebase)))
  secsize+=($((16#$size)))
  secoff+=($((16#$off)))
done < <(grep -E '^ +[0-9]+ [^ ]+ +[0-9a-f]{8} ' <<<"$sections")
rva2off() { # prints the file offset of an RVA, or nothing
  local i
  for i in "${!secrva[@]}"; do
    if [ "$1" -ge "${secrva[i]}" ] && [ "$1" -lt $((secrva[i] + secsize[i])) ]; then
      echo $((secoff[i] + $1 - secrva[i]))
      return
    fi
  done
}
off2rva() { # prints the RVA of a file offset, or nothing
  local i
  for i in "${!secrva[@]}"; do
    if [ "$1" -ge "${secoff[i]}" ] && [ "$1" -lt $((secoff[i] + secsize[i])) ]; then
      echo $((secrva[i] + $1 - secoff[i]))
      return
    fi
  done
}
u32() { od -An -tu4 -j "$1" -N4 "$exe" | tr -d ' '; }
cstring() { dd if="$exe" bs=1 skip="$1" count=256 status=none | tr '\0' '\n' | sed -n 1p; }
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
delayimports=""
while IFS=: read -r nameoff name; do
  [ -n "$name" ] || continue
  namerva=$(off2rva "$nameoff")
  [ -n "$namerva" ] || continue
  for descoff in $(grep -obUaP "\\x01\\x00\\x00\\x00$(le32 "$namerva")" "$exe" | cut -d: -f1); do
    [ $((descoff % 4)) = 0 ] || continue
    intoff=$(rva2off "$(u32 $((descoff + 16)))")
    [ -n "$intoff" ] || continue
    dll=$(tr 'A-Z' 'a-z' <<<"$name")
    n=0
    while :; do
      entry=$(u32 $((intoff + 4 * n)))
      [ "$entry" != 0 ] || break
      if [ $((entry & 0x80000000)) != 0 ]; then
        delayimports+="$dll ordinal$((entry & 0xffff))"$'\n'
      else
        hintoff=$(rva2off "$entry")
        [ -n "$hintoff" ] || { echo "delay import table of $dll is unreadable"; exit 1; }
        delayimports+="$dll $(cstring $((hintoff + 2)))"$'\n'
      fi
      n=$((n + 1))
    done
  done
done < <(grep -obUaP '[A-Za-z0-9_.-]+\.[dD][lL][lL](?=\x00)' "$exe" | sort -t: -k2 -u)

# --- DLLs ---
for dll in $(cut -d' ' -f1 <<<"$imports" | sort -u); do
  case "$delayed" in
    *" $dll "*) echo "import: $dll must be delay-loaded, not imported"; bad=1 ;;
  esac
done
for dll in ${delayed}; do
  if ! grep -q "^$dll " <<<"$delayimports"; then
    echo "delay import: no delay-load table for $dll"
    bad=1
  fi
done

# --- every function against the allowlist ---
allowed=$(sed 's/#.*//' "$allowlist" | awk 'NF >= 3 { print tolower($1), $2 }' | sort -u)
while read -r dll function; do
  [ -n "$dll" ] || continue
  if grep -qxF "$dll $function" <<<"$allowed"; then
    echo "import: $dll $function"
  else
    echo "import not on the Windows XP allowlist: $dll $function"
    bad=1
  fi
done < <(printf '%s\n%s' "$imports" "$delayimports" | sort -u)
echo "$(grep -c . <<<"$imports") imports, $(grep -c . <<<"$delayimports" || true) delay-loaded"
exit $bad
