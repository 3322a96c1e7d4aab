#!/usr/bin/env bash
# Runs a command on a virtual display of its own (Xvfb) with WINEPREFIX set,
# and ends that prefix's Wine before the display goes: a Wine left running
# keeps the prefix's desktop on a display that no longer exists. Every script
# that runs Windows programs headless goes through here.
#   scripts/wine-display.sh PREFIX COMMAND [ARGS...]
set -uo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX COMMAND [ARGS...]" >&2
  exit 2
fi
WINEPREFIX=$(realpath -m "$1")
export WINEPREFIX
shift
exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$@"
  rc=$?
  wineserver -k >/dev/null 2>&1
  exit $rc' wine-display "$@"
