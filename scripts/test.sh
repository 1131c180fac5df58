#!/usr/bin/env bash
# Sets everything up and runs every test: the portable core natively under
# the sanitizers, then the Windows program and its tests under Wine.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

bash scripts/install.sh || exit 1

jobs="$(nproc)"
status=0

echo "== format (.clang-format)"
bash scripts/checkformat.sh || status=1

echo "== native build (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake --preset native >/dev/null && cmake --build build/native -j "$jobs" || exit 1
ctest --test-dir build/native --output-on-failure -j "$jobs" || status=1

echo "== Windows build"
cmake --preset windows >/dev/null && cmake --build build/windows -j "$jobs" || exit 1

source scripts/winenv.sh
trap winenv_stop EXIT
winenv_start
echo "== Windows tests under Wine"
ctest --test-dir build/windows --output-on-failure -j "$jobs" --timeout 1800 || status=1

exit $status
