#!/usr/bin/env bash
# Brings everything the project needs onto a Debian machine; skips what is there.
# Safe to run again. Run as root (or with sudo available).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deps="$here/.deps"
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
# shellcheck source=scripts/host.sh
source "$here/scripts/host.sh"
host_choose install.sh || exit 2

# The 32-bit compiler always: the shipped program is built and checked on
# every host. The Wine of the chosen path; the 64-bit path adds the 64-bit
# compiler for the tests' build and needs no i386 packages.
packages=(
  g++-mingw-w64-i686 mingw-w64-tools
  googletest cmake ninja-build dpkg-dev locales
  xvfb matchbox-window-manager x11-utils xdotool
  imagemagick fonts-wqy-microhei
  clang clang-format libclang-rt-14-dev zip osslsigncode openssl zlib1g-dev
  liblzma-dev libarchive-tools
)
if [ "$BOOTSTRAP_WINE_BITS" = 32 ]; then
  packages+=(wine wine32)
else
  packages+=(wine wine64 g++-mingw-w64-x86-64)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

need_src=0
if [ ! -f "$deps/minizip/unzip.c" ] || [ ! -f "$deps/zlib/deflate.c" ]; then need_src=1; fi
if [ ! -f "$deps/lzma/LzmaDec.c" ]; then need_src=1; fi

add_deb_src() {
  # Derive source entries from the machine's own binary entries.
  local out=/etc/apt/sources.list.d/bootstrap-deb-src.sources
  [ -f "$out" ] && return 0
  if grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources 2>/dev/null; then return 0; fi
  if grep -qs '^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null; then return 0; fi
  local tmp; tmp="$(mktemp)"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    # Only the Debian archive entries: those signed by the Debian archive keyring.
    awk 'BEGIN{RS="";ORS="\n\n"} /debian-archive-keyring/ && /(^|\n)Types:[^\n]*deb/ {sub(/Types:[^\n]*/,"Types: deb-src"); print}' "$f" >> "$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "$tmp.list" || true
    if [ -s "$tmp.list" ]; then $SUDO cp "$tmp.list" /etc/apt/sources.list.d/bootstrap-deb-src.list; fi
    rm -f "$tmp.list"
  fi
  if [ -s "$tmp" ]; then $SUDO cp "$tmp" "$out"; fi
  rm -f "$tmp"
}

if [ ${#missing[@]} -gt 0 ] || [ $need_src = 1 ]; then
  if [ "$BOOTSTRAP_WINE_BITS" = 32 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  [ $need_src = 1 ] && add_deb_src
  $SUDO apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    echo "install.sh: installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

# Downloads the newest source of a Debian source package that the mirror
# still carries (security suites often lag) into a new directory: its path.
fetch_source() {
  local package="$1" work
  work="$(mktemp -d)"
  if ! (cd "$work" && apt-get source -qq --download-only "$package" >/dev/null 2>&1); then
    for v in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -u); do
      rm -f "$work"/*
      if (cd "$work" && apt-get source -qq --download-only "$package=$v" >/dev/null 2>&1); then break; fi
    done
  fi
  echo "$work"
}

# zlib itself (for the Windows program) and minizip 1.1 from contrib/minizip,
# both from Debian's zlib source package.
if [ ! -f "$deps/minizip/unzip.c" ] || [ ! -f "$deps/zlib/deflate.c" ]; then
  work="$(fetch_source zlib)"
  orig="$(ls "$work"/zlib_*.orig.tar.* | head -n1)"
  mkdir -p "$deps/minizip" "$deps/zlib"
  tar -xf "$orig" -C "$work"
  top="$(ls -d "$work"/zlib-* | head -n1)"
  cp "$top"/*.c "$top"/*.h "$deps/zlib/"
  src="$(ls -d "$work"/zlib-*/contrib/minizip | head -n1)"
  for f in ioapi.c ioapi.h zip.c zip.h unzip.c unzip.h crypt.h iowin32.h; do
    [ -f "$src/$f" ] && cp "$src/$f" "$deps/minizip/"
  done
  rm -rf "$work"
fi

# The LZMA decoder of the LZMA SDK (public domain) for ZIP entries of method
# 14, from Debian's 7zip source package: the decoder and the headers it
# includes, nothing else.
if [ ! -f "$deps/lzma/LzmaDec.c" ]; then
  work="$(fetch_source 7zip)"
  orig="$(ls "$work"/7zip_*.orig.tar.* | head -n1)"
  mkdir -p "$work/src" "$deps/lzma"
  tar -xf "$orig" -C "$work/src"
  sdk="$(dirname "$(find "$work/src" -path '*/C/LzmaDec.c' | head -n1)")"
  for f in LzmaDec.c LzmaDec.h 7zTypes.h Precomp.h Compiler.h 7zWindows.h; do
    [ -f "$sdk/$f" ] && cp "$sdk/$f" "$deps/lzma/"
  done
  rm -rf "$work"
fi

# A Chinese locale (GBK) for the tests that run Wine with that ANSI code page.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.gbk$'; then
  $SUDO localedef -i zh_CN -f GBK zh_CN.GBK >/dev/null 2>&1 || echo "install.sh: could not make the zh_CN.GBK locale"
fi

# A 32-bit Wine prefix needs the i386 loader; make sure the binary is reachable.
if ! command -v wine >/dev/null 2>&1 && [ -x /usr/lib/wine/wine ]; then
  $SUDO ln -sf /usr/lib/wine/wine /usr/local/bin/wine
fi
echo "install.sh: ready"
