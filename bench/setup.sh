#!/usr/bin/env bash
# Brings what the benchmarks need beyond the project's own toolchain, Wine and
# dependencies (scripts/install.sh) onto the machine through apt when it is
# missing: the peers they compare against (Info-ZIP's zip, NSIS's makensis,
# 7-Zip's 7zz and xz, pugixml for the XML parse benchmark) and GNU time for
# peak memory.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/install.sh" >/dev/null
missing=()
for p in zip nsis 7zip xz-utils time libpugixml-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bench: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
    { $sudo apt-get update -qq && $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; }
fi
