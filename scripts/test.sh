#!/usr/bin/env bash
# Checks the include layers, builds everything and runs the whole test suite,
# one ctest call per build folder (options in CMakePresets.json, labels in
# cmake/Testing.cmake, cmake/Rigs.cmake):
#   scripts/test.sh             build/: the native tests ("unit"), the Linux
#                               HID rig and the page's rig ("rig");
#                               build-web/: the page in headless Chromium;
#                               then build-win/: the Windows build's tests
#                               under Wine ("wine") and the Wine rig, which
#                               uses build/'s virtual board
#   scripts/test.sh --sanitize  native tests once more under ASan and UBSan
set -euo pipefail
cd "$(dirname "$0")/.."

# Includes point down the stack only, and no function runs over 60 lines;
# cheap, so first (the length check's ctags and python3 come with the
# dependencies, and it proves itself on planted functions before it runs).
bash scripts/check-layers.sh
bash scripts/install-deps.sh
bash scripts/check-function-length.sh --self-test
bash scripts/check-function-length.sh

jobs=$(nproc 2>/dev/null || echo 2)

if [ "${1:-}" = "--sanitize" ]; then
  cmake --preset asan
  cmake --build --preset asan -j "$jobs"
  ctest --preset asan -j "$jobs"
  exit 0
fi

cmake --preset native
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

# The page against the simulated board compiled into it (scripts/test-web.sh).
bash scripts/test-web.sh

# All of the Windows build's tests on one virtual display (scripts/wine-display.sh).
cmake --preset windows
cmake --build --preset windows -j "$jobs"
bash scripts/wine-display.sh build-win/wineprefix ctest --preset windows -j "$jobs"
