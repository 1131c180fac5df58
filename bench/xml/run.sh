#!/usr/bin/env bash
# XML parse benchmark (native, Release): the document index against pugixml
# on a generated configuration document; the best of a few runs each.
#   bench/xml/run.sh [MB of text, default 40] [runs, default 5]
# BENCH_SMOKE=1: 1 MB, one run (bench/common.sh).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source bench/common.sh
size="${1:-$(bench_default 40 1)}"
runs="${2:-$(bench_default 5 1)}"
bench_setup
# Configured again when the target is missing: pugixml may have been installed since.
cmake --build build/inspect --target xml_bench >/dev/null 2>&1 ||
  { cmake --preset inspect >/dev/null && cmake --build build/inspect --target xml_bench >/dev/null; }
bench_rounds_begin
echo "== XML parse benchmark: $size MB, best of $runs runs"
build/inspect/bench/xml/xml_bench "$size" "$runs"
bench_rounds_end
