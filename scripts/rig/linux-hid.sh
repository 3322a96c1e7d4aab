#!/usr/bin/env bash
# The Linux kernel's HID stack: velkor (hidapi backend) against
# velkor-virtual-board on /dev/uhid, in a VM on Debian's own kernel.
#   scripts/rig/linux-hid.sh [BUILD-DIR]     (default: build)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
for f in cli/velkor vboard/velkor-virtual-board tools/make_firmware; do
  [ -x "$build/$f" ] || { echo "linux-hid: $build/$f is missing: build first" >&2; exit 1; }
done
exec "$repo/scripts/rig/vm.sh" bash "$repo/scripts/rig/linux-hid-guest.sh" "$build"
