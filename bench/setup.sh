#!/usr/bin/env bash
# Brings the peers the benchmarks compare against onto the machine through
# apt when they are missing: Info-ZIP's zip, NSIS's makensis, 7-Zip's 7zz
# and xz. The project's own toolchain, Wine and dependencies come from
# scripts/install.sh.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/install.sh" >/dev/null
missing=()
command -v zip >/dev/null || missing+=(zip)
command -v makensis >/dev/null || missing+=(nsis)
command -v 7zz >/dev/null || missing+=(7zip)
command -v xz >/dev/null || missing+=(xz-utils)
if [ ${#missing[@]} -gt 0 ]; then
  echo "bench: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
    { $sudo apt-get update >/dev/null && $sudo apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; }
fi
