#!/usr/bin/env bash
# The real HID stacks, each in a VM on Debian's own kernel (scripts/rig/):
# the programs' real backends against velkor-virtual-board. Needs the builds
# scripts/test.sh makes. A rig that cannot start its VM fails; none is skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/rig/linux-hid.sh build
bash scripts/rig/wine.sh build build-win
