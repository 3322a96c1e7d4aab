#!/usr/bin/env bash
# Builds the Windows program with the simulated board and starts it under
# Wine. With a display ($DISPLAY) it opens in a window there and this script
# waits until you close it; without one it runs on a virtual display, saves a
# screenshot and says where.
#   scripts/run-window.sh [SCENARIO.json]     (see docs/scenario.md)
set -euo pipefail
scenario=${1:+$(realpath "$1")}
cd "$(dirname "$0")/.."

source scripts/wine-desktop.sh

if [ -n "${VELKOR_RUN_WINDOW_HEADLESS:-}" ]; then
  prepare_wine
  start_program "$scenario"
  shot="$build/velkor-window.png"
  screenshot "$shot"
  stop_program
  echo "No display: ran under Xvfb. Screenshot of the window: $shot"
  exit 0
fi

build_sim_program

if [ -n "${DISPLAY:-}" ]; then
  prepare_wine
  echo "Starting VelkorUpdateSim.exe; close its window to finish."
  if [ -n "$scenario" ]; then
    export VELKOR_SIM="$(winepath -w "$scenario" 2>/dev/null)"
  fi
  wine explorer "/desktop=velkor,$desktop_size" "$exe" 2>>"$prefix/wine.log"
  wineserver -k 2>/dev/null || true
  exit 0
fi

VELKOR_RUN_WINDOW_HEADLESS=1 exec bash scripts/wine-display.sh "$prefix" "$0" "$@"
