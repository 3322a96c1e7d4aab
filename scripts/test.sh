#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
#   scripts/test.sh             native build and tests, then the Windows build and
#                               its tests under Wine, then the real HID stacks
#                               in VMs (scripts/rigs.sh)
#   scripts/test.sh --sanitize  native tests once more under ASan and UBSan
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

if [ "${1:-}" = "--sanitize" ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELKOR_WERROR=ON -DVELKOR_SANITIZE=ON
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
  exit 0
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKOR_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The Windows build: the core's tests and the program's run under Wine
# (scripts/wine-run.sh), all on one virtual display; Wine is ended before the
# display goes.
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELKOR_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
cmake --build build-win -j "$jobs"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  ctest --test-dir build-win --output-on-failure -j "$1"
  rc=$?
  WINEPREFIX="$PWD/build-win/wineprefix" wineserver -k 2>/dev/null
  exit $rc' wine-tests "$jobs"

bash scripts/rigs.sh
