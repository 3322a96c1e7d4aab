#!/usr/bin/env bash
# Makes the screenshots in docs/ from the running program: the Windows build
# with the simulated board, under Wine on a virtual display, driven with
# xdotool. Run it again after changing what the window shows.
# With --web, the page's instead (docs/screenshot-web-*.png): the web build
# in demo mode, in headless Chromium (scripts/web-screenshots.mjs).
#   scripts/screenshots.sh [--web]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --web ]; then
  bash scripts/install-deps.sh --only chromium $(command -v npm >/dev/null || echo npm)
  site=$(bash scripts/run-web.sh --build-only | tail -n 1)
  [ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund
  exec node scripts/web-screenshots.mjs "$site" docs
fi

if [ -z "${VELKOR_SCREENSHOT_DISPLAY:-}" ]; then
  source scripts/wine-desktop.sh
  build_sim_program
  # A display of our own, so no window manager and no other window gets in.
  VELKOR_SCREENSHOT_DISPLAY=1 exec bash scripts/wine-display.sh "$prefix" "$0" "$@"
fi

source scripts/wine-desktop.sh
prepare_wine
out=docs
mkdir -p "$out"
work=$(mktemp -d)
trap 'stop_program; rm -rf "$work"' EXIT

firmware=$(winepath -w examples/demo.enc 2>/dev/null)

echo '{"present": false}' >"$work/absent.json"
start_program "$work/absent.json"
screenshot "$out/screenshot-no-board.png"
stop_program

start_program ""
xdotool type --delay 10 "$firmware"
sleep 1
screenshot "$out/screenshot-ready.png"
stop_program

# The board stops answering part-way through the data, so the update holds
# still for the picture.
echo '{"silent": [{"command": "0x10", "occurrence": 120}], "read_timeout_ms": 60000}' >"$work/stalls.json"
start_program "$work/stalls.json"
xdotool type --delay 10 "$firmware"
sleep 1
xdotool key Tab Tab space
sleep 4
screenshot "$out/screenshot-updating.png"
stop_program

# Another program has the board: velkor.exe holds the same simulated board
# (one device_path, one lock) while it waits for an erase never answered.
echo '{"device_path": "shared-board", "silent": ["0xC2"], "read_timeout_ms": 60000}' >"$work/held.json"
echo '{"device_path": "shared-board"}' >"$work/shared.json"
wine "$build/cli/velkor.exe" --sim "$(winepath -w "$work/held.json" 2>/dev/null)" program "$firmware" \
  >/dev/null 2>>"$prefix/wine.log" &
sleep 2
start_program "$work/shared.json"
screenshot "$out/screenshot-busy.png"
stop_program

start_program ""
# The shot counter dialog opens where the mouse is: over the window.
xdotool mousemove 400 300
xdotool key ctrl+alt+p
sleep 1
xdotool type --delay 10 zephyr
xdotool key Return
sleep 3
xdotool key alt+s
sleep 1
screenshot "$out/screenshot-service-menu.png"
xdotool key s
sleep 2
screenshot "$out/screenshot-shot-counter.png"
stop_program

echo "Screenshots written to $out/:"
ls -1 "$out"/screenshot-*.png
