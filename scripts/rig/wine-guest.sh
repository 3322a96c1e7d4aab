#!/bin/bash
# Inside the rig's VM, as root: the Windows programs, unchanged, on the
# virtual board through Wine's HID stack (hid.dll over winebus over hidraw).
#   wine-guest.sh NATIVE-BUILD WINDOWS-BUILD PREFIX
# Prints one PASS or FAIL line per check; exits 1 if any failed.
set -uo pipefail
native=$1 win=$2
export WINEPREFIX=$3 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
out=$win/rig
mkdir -p "$out"
rm -f "$out"/*.json "$out"/*.log "$out"/*.bmp
failures=0

pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

modprobe uhid && modprobe hid-generic || { echo "FAIL: no uhid in the guest kernel"; exit 1; }
Xvfb :9 -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
export DISPLAY=:9
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X9 ] && break; sleep 0.1; done

# Plugs in a board made from the scenario $1 (JSON text); its dump goes to
# $out/$2.json when it is unplugged.
board_pid=
plug() {
  printf '%s' "${1%\}}${1:+, }\"dump\": \"$out/$2.json\"}" >"$out/$2.scenario.json"
  "$native/vboard/velkor-virtual-board" "$out/$2.scenario.json" >"$out/$2.board.log" 2>&1 &
  board_pid=$!
  for _ in $(seq 100); do
    ls /sys/class/hidraw/*/device/uevent >/dev/null 2>&1 && grep -qs 04D8 /sys/class/hidraw/*/device/uevent && return 0
    sleep 0.1
  done
  fail "$2: the virtual board did not appear"; cat "$out/$2.board.log"
  return 1
}
# Wine keeps the node open, and does not see a new board until it restarts:
# Wine goes first, then the board, which writes its dump.
unplug() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  kill -TERM "$board_pid" 2>/dev/null
  wait "$board_pid" 2>/dev/null
}
# The program's stderr with its stdout; Wine's own is quiet (WINEDEBUG).
wine_run() { wine "$@" 2>&1 | tr -d '\r'; }
dump_matches() {
  if r=$("$native/tools/dump_check" "$out/$1.json" examples/demo.enc); then pass "$1: $r"; else fail "$1: $r"; fi
}

# The command line: the board connected, then a whole update, dump exact.
if plug '{}' cli; then
  text=$(wine_run "$win/cli/velkor.exe" detect); rc=$?
  if [ $rc = 0 ] && grep -qx 'Connected: Ferrit XR, version 3.02b' <<<"$text"; then
    pass "velkor.exe detect"
  else
    fail "velkor.exe detect: exit $rc: $text"
  fi
  text=$(wine_run "$win/cli/velkor.exe" program examples/demo.enc); rc=$?
  if [ $rc = 0 ] && grep -qx 'Update complete!' <<<"$text"; then
    pass "velkor.exe program"
  else
    fail "velkor.exe program: exit $rc: $(tail -3 <<<"$text")"
  fi
  unplug
  dump_matches cli
fi

# A board that never answers an erase: the read's time-out ends the update
# with the erase error, the two pauses before it included, and no later.
if plug '{"silent": ["0xC2"]}' silent; then
  text=$(wine_run "$win/cli/velkor.exe" program examples/demo.enc |
    while IFS= read -r line; do echo "$(date +%s.%N) $line"; done); rc=$?
  seconds=$(awk '/Erasing flash block/ && !s {s = $1} END {if (s) printf "%.1f", systime_end - s}' \
    systime_end="$(date +%s.%N)" <<<"$text")
  if [ "$rc" != 0 ] && grep -q 'Error -[0-9]* erasing 0x' <<<"$text" &&
    awk -v t="$seconds" 'BEGIN {exit !(t >= 5 && t <= 8.5)}'; then
    pass "silent board: erase error after ${seconds}s"
  else
    fail "silent board: exit $rc after ${seconds:-?}s: $(cut -d' ' -f2- <<<"$text" | tail -3)"
  fi
  unplug
fi

# The window: the board connected, an update through it, a screenshot. The
# prefix puts it on a virtual desktop, which draws its caption and menu bar.
if plug '{}' window; then
  text=$(wine_run "$win/bin/drive_update.exe" \
    "$win/bin/VelkorUpdate.exe" examples/demo.enc "$out/window.bmp"); rc=$?
  echo "$text" >"$out/window.log"
  if [ $rc = 0 ] && grep -qx OK <<<"$text"; then
    pass "VelkorUpdate.exe: connected, updated, ended"
  else
    fail "VelkorUpdate.exe: $(grep -v '^status' <<<"$text" | tail -2)"
  fi
  unplug
  dump_matches window
fi

kill %1 2>/dev/null
[ $failures = 0 ]
