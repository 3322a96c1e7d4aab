#!/usr/bin/env bash
# Checks the include layers, builds everything and runs the whole test suite.
#   scripts/test.sh             native build and tests, then the Windows build and
#                               its tests under Wine, then the real HID stacks
#                               in VMs (scripts/rigs.sh)
#   scripts/test.sh --sanitize  native tests once more under ASan and UBSan
set -euo pipefail
cd "$(dirname "$0")/.."

# Includes point down the stack only; cheap, so first.
bash scripts/check-layers.sh
bash scripts/install-deps.sh
source scripts/build-dirs.sh

jobs=$(nproc 2>/dev/null || echo 2)

if [ "${1:-}" = "--sanitize" ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELKOR_WERROR=ON -DVELKOR_SANITIZE=ON
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
  exit 0
fi

configure_native
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The Windows build: the core's tests and the program's run under Wine
# (scripts/wine-run.sh), all on one virtual display; Wine is ended before the
# display goes.
configure_windows
cmake --build build-win -j "$jobs"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  ctest --test-dir build-win --output-on-failure -j "$1"
  rc=$?
  WINEPREFIX="$PWD/build-win/wineprefix" wineserver -k 2>/dev/null
  exit $rc' wine-tests "$jobs"

bash scripts/rigs.sh
