#!/usr/bin/env bash
# Runs every benchmark (bench/*/run.sh) once in smoke mode: a tiny corpus, one
# round, its figures printed to build/bench-smoke/NAME.log and not judged. One
# line each; exits 1 when one fails. The test command runs it inside its Wine
# environment, which the benchmarks then use as it is.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mkdir -p build/bench-smoke
if ! bash bench/setup.sh >build/bench-smoke/setup.log 2>&1; then
  echo "bench/setup.sh: FAILED, the end of build/bench-smoke/setup.log:"
  tail -n 20 build/bench-smoke/setup.log | sed 's/^/  /'
  exit 1
fi
status=0
for run in bench/*/run.sh; do
  name="$(basename "$(dirname "$run")")"
  log="build/bench-smoke/$name.log"
  start=$(date +%s)
  # The guard is far above an honest run, which takes seconds.
  if BENCH_SMOKE=1 BENCH_SET_UP=1 timeout 1200 bash "$run" >"$log" 2>&1; then
    said=""
    grep -q '^figures DISTURBED' "$log" && said=", figures disturbed"
    echo "bench/$name: passed ($(($(date +%s) - start)) s$said)"
  else
    echo "bench/$name: FAILED (exit code $?), the end of $log:"
    tail -n 20 "$log" | sed 's/^/  /'
    status=1
  fi
done
exit $status
