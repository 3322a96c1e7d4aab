#!/usr/bin/env bash
# The page on the Linux kernel's HID stack: headless Chromium in a VM on
# Debian's own kernel reaches velkor-virtual-board on /dev/uhid through
# WebHID and hidraw (web-guest.sh, tests/web/rig.mjs).
#   scripts/rig/web.sh [BUILD-DIR]     (default: build; its virtual board)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
cd "$repo"
cmake --build "$build" --target velkor-virtual-board make_firmware
bash scripts/install-deps.sh --only chromium udev iproute2 $(command -v npm >/dev/null || echo npm)
site=$(bash scripts/run-web.sh --build-only | tail -n 1)
[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund
VM_TIMEOUT=${VM_TIMEOUT:-1200} exec scripts/rig/vm.sh bash scripts/rig/web-guest.sh "$build" "$site"
