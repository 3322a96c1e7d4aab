#!/usr/bin/env bash
# Runs inside the VM as root (see web.sh): the page served on the loopback,
# Chromium granted the board by a managed policy, tests/web/rig.mjs driving
# both. The exit status is the number of failures.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$1 site=$2
work=$(mktemp -d)
port=8765

modprobe uhid && modprobe hid-generic || { echo "FAIL modules: uhid or hid-generic missing"; exit 1; }
# Chromium hears of a board plugged in after its start only through udev's
# events, as on any desktop.
/lib/systemd/systemd-udevd --daemon || { echo "FAIL udev: systemd-udevd does not start"; exit 1; }
# The VM has no network, and its loopback starts down.
ip link set lo up
# What an administrator would roll out: this page may use the board unasked.
mkdir -p /etc/chromium/policies/managed
cat >/etc/chromium/policies/managed/velkor-rig.json <<JSON
{"WebHidAllowDevicesForUrls": [{"devices": [{"vendor_id": 1240, "product_id": 64561}],
  "urls": ["http://127.0.0.1:$port"]}]}
JSON

python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site" >"$work/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null' EXIT
printf 'fill 0x000000 16384 0x00\n' >"$work/zeros.fw"
"$build/tools/make_firmware" "$work/zeros.fw" "$work/zeros.enc"

# Chromium as root, but without the capabilities that let root open any file:
# a node's mode then keeps it out as it keeps out a user.
printf '#!/bin/sh\nexec setpriv --bounding-set=-all --inh-caps=-all /usr/lib/chromium/chromium "$@"\n' >"$work/chromium"
chmod +x "$work/chromium"

CHROMIUM=$work/chromium PAGE_URL=http://127.0.0.1:$port/ BOARD=$build/vboard/velkor-virtual-board \
  FIRMWARE=$repo/examples/demo.enc ZEROS=$work/zeros.enc WORK=$work \
  CHECK_DUMP=$repo/scripts/rig/expect-dump.py \
  timeout -k 5 900 node "$repo/tests/web/rig.mjs"
