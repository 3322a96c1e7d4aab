#!/bin/bash
# Inside the rig's VM, as root: the Windows programs, unchanged, on the
# virtual board through Wine's HID stack (hid.dll over winebus over hidraw).
#   wine-guest.sh NATIVE-BUILD WINDOWS-BUILD PREFIX
# One board and one Wine session for everything, since Wine does not see a
# replugged board until it restarts and a start is slow under emulation.
# Prints one PASS or FAIL line per check; exits 1 if any failed.
set -uo pipefail
native=$1 win=$2 prefix=$3
out=$win/rig
mkdir -p "$out"
rm -f "$out"/*
failures=0
# A program's output, stderr with stdout, goes to a file in the guest, never
# to a pipe: the services Wine starts with the first program that needs them
# inherit it and stay. A hanging program fails its check.
run() {
  local log=/tmp/velkor-run.log
  timeout -k 5 "${limit:-120}" wine "$@" >$log 2>&1 &
  local pid=$!
  tail -n +1 -s 0.1 -f --pid=$pid $log | stdbuf -oL tr -d '\r'
  wait $pid
}
# The same in the background, its output in LOG: start LOG PROGRAM [ARGS].
start() {
  local log=$1; shift
  timeout -k 5 "${limit:-120}" wine "$@" >"$log" 2>&1 &
}
# Waits for a line in LOG matching PATTERN (extended); fails once process PID
# has ended without one: await PATTERN LOG PID.
await() {
  until grep -Eqs -- "$1" "$2"; do
    kill -0 "$3" 2>/dev/null || grep -Eqs -- "$1" "$2" || return 1
    sleep 0.2
  done
}
# Each line with the time it arrived.
stamped() { while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done; }
pass() { echo "PASS: $*"; }

# The window driver's end: it exits 0 with "OK" as its last line of its own.
#   driven LOG PID PASS-TEXT FAIL-NAME
driven() {
  wait "$2"; local rc=$? text
  text=$(tr -d '\r' <"$1")
  if [ $rc = 0 ] && [ "$(grep -v ':warn:' <<<"$text" | tail -1)" = OK ]; then
    pass "$3"
  else
    fail "$4: $(grep -v -e '^status' -e ':warn:' <<<"$text" | tail -2 | tr '\n' '|')"
  fi
}
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "-- $(date +%T) $*"; }

# Wine takes its prefix, and runs the programs, from the read-only view of
# the host's tree (writes stay in the guest): from the repository's own share
# it starts far slower, and executables whose sections are not page-aligned
# load wrong from it.
mkdir -p /run/host && mount --bind / /run/host
export WINEPREFIX=/run/host$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
bin=/tmp/velkor-bin
mkdir -p $bin
cp "$win/cli/velkor.exe" "$win/bin/VelkorUpdate.exe" "$win/bin/drive_update.exe" $bin/

modprobe uhid && modprobe hid-generic || { echo "FAIL: no uhid in the guest kernel"; exit 1; }
Xvfb :9 -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
export DISPLAY=:9
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X9 ] && break; sleep 0.1; done

# The first erase is never answered; the updates after it must go through.
cat >"$out/board.json" <<EOF
{"silent": [{"command": "0xC2", "occurrence": 1}], "dump": "$out/dump.json"}
EOF
"$native/vboard/velkor-virtual-board" "$out/board.json" >"$out/board.log" 2>&1 &
board=$!
for _ in $(seq 100); do grep -qs 04D8 /sys/class/hidraw/*/device/uevent && break; sleep 0.1; done
if ! grep -qs 04D8 /sys/class/hidraw/*/device/uevent; then
  echo "FAIL: the virtual board did not appear"; cat "$out/board.log"; exit 1
fi
# Wine's first start is the slow one. A program that waits on its input then
# keeps Wine up between the checks.
step "Wine starts"
run cmd /c exit >/dev/null
sleep infinity | wine cmd >/dev/null 2>&1 &


step "detect"
text=$(run $bin/velkor.exe detect); rc=$?
if [ $rc = 0 ] && grep -qx 'Connected: Ferrit XR, version 3.02b' <<<"$text"; then
  pass "velkor.exe detect"
else
  fail "velkor.exe detect: exit $rc: $text"
fi

# The silent erase: the read's time-out ends the update with the erase
# error of a failed read (-1), no sooner and not much later.
step "update on a silent board"
text=$(run $bin/velkor.exe --verbose program examples/demo.enc | stamped); rc=$?
seconds=$(awk '/Erasing flash block/ {s = $1} /Error -1 erasing 0x000000/ && s {printf "%.1f", $1 - s; exit}' <<<"$text")
if [ $rc != 0 ] && [ -n "$seconds" ] && awk -v t="$seconds" 'BEGIN {exit !(t >= 4.5 && t <= 8)}'; then
  pass "silent board: erase error ${seconds}s after the erase request"
else
  fail "silent board: exit $rc, ${seconds:-no erase error} s: $(cut -d' ' -f2- <<<"$text" | grep -v '^write\|^read' | tail -3 | tr '\n' '|')"
fi
# The time-out is a failed read, never an empty reply: the board never
# sends a report of zeros, a cleared buffer taken for a reply would show as one.
if grep -q '^[0-9.]* read  00 00 00 00 00 00 00 00 00$' <<<"$text"; then
  fail "silent board: a time-out read as a reply of zeros"
else
  pass "silent board: the time-out read as a failure, no empty reply"
fi

# Two programs on one board: whichever opened it first keeps it until it is
# done, and the other one says so and sends nothing.
step "velkor.exe program while the window waits"
log=$out/window-busy.log
limit=300 start "$log" $bin/drive_update.exe $bin/VelkorUpdate.exe examples/demo.enc --busy
driver=$!
text="the window never got ready" rc=none
if await '^ready' "$log" $driver; then
  # The window looks at the board once a second; a start that meets one of
  # those looks is refused, as a user's would be, and tried again.
  for _ in 1 2 3 4 5; do
    text=$(run $bin/velkor.exe program examples/demo.enc); rc=$?
    grep -qx 'Board in use by another program' <<<"$text" || break
  done
fi
if [ $rc = 0 ] && grep -qx 'Update complete!' <<<"$text"; then
  pass "velkor.exe program"
else
  fail "velkor.exe program: exit $rc: $(tail -3 <<<"$text" | tr '\n' '|')"
fi
driven "$log" $driver "VelkorUpdate.exe meanwhile: \"Board in use by another program\", \"Program\" off; then the board again" \
  "VelkorUpdate.exe while velkor.exe programs"

# The window, on the prefix's virtual desktop, which draws its caption. The
# driver holds the "Done" box up, and with it the board, until the
# screenshot exists; velkor.exe is refused before that. Wine's ntdll notes
# each request to keep the PC awake.
step "update through the window, velkor.exe refused meanwhile"
log=$out/window.log
WINEDEBUG=-all,warn+ntdll limit=300 start "$log" $bin/drive_update.exe $bin/VelkorUpdate.exe examples/demo.enc "$out/window.png"
driver=$!
if await '^status: (Starting|Programming|Booting|Erasing|Uploading)|^box "Done"' "$log" $driver; then
  for command in "program examples/demo.enc" detect; do
    text=$(run $bin/velkor.exe $command); rc=$?
    if [ $rc = 3 ] && grep -qx 'Board in use by another program' <<<"$text"; then
      pass "velkor.exe ${command%% *} during the window's update: \"Board in use by another program\", exit $rc"
    else
      fail "velkor.exe ${command%% *} during the window's update: exit $rc: $(tail -3 <<<"$text" | tr '\n' '|')"
    fi
  done
fi
if await '^box "Done"' "$log" $driver; then
  sleep 0.5  # painted
  import -window root -crop 800x600+0+0 +repage "$out/shot.png" && mv "$out/shot.png" "$out/window.png"
fi
driven "$log" $driver "VelkorUpdate.exe: connected, updated through its window, ended" "VelkorUpdate.exe"
text=$(tr -d '\r' <"$log")
states=$(sed -n 's/.*NtSetThreadExecutionState (\(0x[0-9a-f]*\),.*/\1/p' <<<"$text" | xargs)
if [ "$states" = "0x80000001 0x80000000" ]; then
  pass "VelkorUpdate.exe kept the PC awake for its update, and then no longer"
else
  fail "VelkorUpdate.exe's requests to keep the PC awake: ${states:-none}, not 0x80000001 0x80000000"
fi

# Wine holds the board's node open: it goes first, then the board writes its
# dump. Three updates reached the board (the silent one ended after the
# code blocks); the data is the last one's.
step "dump"
wineserver -k; wineserver -w
kill -TERM $board; wait $board
if r=$(python3 scripts/rig/expect-dump.py examples/demo.enc "$out/dump.json" --updates 3 2>&1); then
  pass "dump: flash, code and mode as the file puts them"
else
  fail "$r"
fi

kill %1 2>/dev/null
[ $failures = 0 ]
