#!/usr/bin/env bash
# Sets everything up and runs every test: the portable core natively under
# the sanitizers, then the Windows program and its tests under Wine: the
# 32-bit program under 32-bit Wine where the host executes 32-bit programs,
# else the same sources built for 64-bit Windows under 64-bit Wine, with the
# shipped 32-bit program checked statically (header, imports, size) on every
# host. BOOTSTRAP_WINE=32 or 64 forces a path (scripts/host.sh).
# Where the host runs no 32-bit programs, the shipped program's own tests then
# run under 32-bit Wine in an emulated machine (scripts/vm32.sh, which builds
# its guest once per machine; BOOTSTRAP_VM32=0 leaves this out).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

source scripts/host.sh
host_choose test.sh || exit 2
bash scripts/install.sh >/dev/null || exit 1

jobs="$(nproc)"
status=0
vm32=0
if [ "$BOOTSTRAP_WINE_BITS" = 64 ] && [ "${BOOTSTRAP_VM32:-1}" != 0 ]; then
  vm32=1
  # The guest is built (or found in its cache) while the host's tests run.
  mkdir -p build/vm32
  bash scripts/vm32.sh image >build/vm32/image.log 2>&1 &
  vm32image=$!
fi

echo "== format (.clang-format)"
bash scripts/checkformat.sh || status=1

echo "== native build (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake --preset native >/dev/null && cmake --build build/native -j "$jobs" || exit 1
ctest --test-dir build/native --output-on-failure -j "$jobs" || status=1

if [ "$BOOTSTRAP_WINE_BITS" = 32 ]; then
  echo "== Windows build (32-bit, the shipped program)"
  cmake --preset windows >/dev/null && cmake --build build/windows -j "$jobs" || exit 1
  tests=build/windows
else
  echo "== the shipped 32-bit program: build, size budget, header and imports (no Wine)"
  targets=(--target bootstrap inspect importprobe)
  [ $vm32 = 0 ] || targets=() # and its tests, for the emulated machine
  cmake --preset windows >/dev/null && cmake --build build/windows -j "$jobs" "${targets[@]}" || exit 1
  ctest --test-dir build/windows --output-on-failure -j "$jobs" -L static || status=1
  echo "== Windows build (64-bit, for the tests under 64-bit Wine)"
  cmake --preset windows64 >/dev/null && cmake --build build/windows64 -j "$jobs" || exit 1
  tests=build/windows64
fi

source scripts/winenv.sh
trap winenv_stop EXIT
winenv_start
# Before the Windows tests, whose summary closes the run.
echo "== benchmarks, smoke runs (bench/smoke.sh)"
bash bench/smoke.sh || status=1
echo "== Windows tests under ${BOOTSTRAP_WINE_BITS}-bit Wine"
ctest --test-dir "$tests" --output-on-failure -j "$jobs" --timeout 1800 || status=1
winenv_stop
hosttime=$SECONDS

if [ $vm32 = 1 ]; then
  echo "== the shipped 32-bit program's tests under 32-bit Wine in an emulated machine (scripts/vm32.sh)"
  # The native tools, for the scripts that pack natively in the guest.
  cmake --preset inspect >/dev/null && cmake --build --preset inspect -j "$jobs" >/dev/null || exit 1
  if ! wait "$vm32image"; then
    cat build/vm32/image.log
    echo "test.sh: the emulated machine could not be built"
    exit 1
  fi
  grep '^vm32:' build/vm32/image.log || true
  echo "test.sh: ${hosttime} s on this host, then $((SECONDS - hosttime)) s for the native tools and the guest image"
  # Its ctest summary closes the run.
  BOOTSTRAP_VM32_COPY="build/windows build/inspect" bash scripts/vm32.sh run scripts/vm32/tests.sh || status=1
fi

exit $status
