#!/usr/bin/env bash
# The real HID stacks, each in a VM on Debian's own kernel (scripts/rig/):
# the programs' real backends against velkor-virtual-board. They are the
# ctest entries labelled "rig" in build/ and build-win/, which
# scripts/test.sh runs with the rest; this runs just them, building what is
# missing. A rig that cannot start its VM fails; none is skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
# build/ first: the Wine rig takes its virtual board from there. Verbose, so
# each check's PASS or FAIL shows as it comes.
for preset in native windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -L rig --verbose
done
