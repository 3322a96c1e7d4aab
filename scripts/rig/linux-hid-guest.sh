#!/usr/bin/env bash
# Runs inside the VM as root (see linux-hid.sh): every check prints PASS or
# FAIL; the exit status is the number of failures.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
velkor=$build/cli/velkor
board_bin=$build/vboard/velkor-virtual-board
enc=$repo/examples/demo.enc
work=$(mktemp -d)
failures=0
pass() { echo "PASS $1"; }
fail() { echo "FAIL $1: $2"; failures=$((failures + 1)); }

modprobe uhid && modprobe hid-generic || { echo "FAIL modules: uhid or hid-generic missing"; exit 1; }

hidraw_present() { local nodes=(/dev/hidraw*); [ -e "${nodes[0]}" ]; }
# Waits (up to 30 s) for the board's log to show N devices created and its
# hidraw node to be there.
wait_plugged() {
  local n=$1 deadline=$((SECONDS + 30))
  while [ "$SECONDS" -lt "$deadline" ]; do
    if [ "$(grep -c 'device created' "$work/board.log")" -ge "$n" ] && hidraw_present; then
      return 0
    fi
    sleep 0.2
  done
  return 1
}
start_board() {  # SCENARIO-JSON
  echo "$1" >"$work/scenario.json"
  rm -f "$work/dump.json"
  "$board_bin" "$work/scenario.json" >"$work/board.log" 2>&1 &
  board_pid=$!
  wait_plugged 1 || { cat "$work/board.log"; return 1; }
}
stop_board() {
  kill -TERM "$board_pid" 2>/dev/null
  wait "$board_pid"
  local rc=$?
  local deadline=$((SECONDS + 10))
  while hidraw_present && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
  return $rc
}
# run NAME EXPECTED-RC EXPECTED-LINE VELKOR-ARGS... (stdin from $input).
# $work/timed has each line after the microsecond it arrived; elapsed_ms
# runs from velkor's first line to its end, so the VM's slow process start
# does not count. No command may hang the rig: each gets a minute.
input=/dev/null
run() {
  local name=$1 want_rc=$2 want=$3; shift 3
  local rc line
  timeout -k 5 60 "$@" <"$input" 2>&1 | while IFS= read -r line; do
    printf '%s %s\n' "${EPOCHREALTIME/./}" "$line"
  done >"$work/timed"
  rc=${PIPESTATUS[0]}
  local end=${EPOCHREALTIME/./} first
  first=$(head -c 16 "$work/timed")
  elapsed_ms=$(( (end - ${first:-$end}) / 1000 ))
  cut -d ' ' -f 2- "$work/timed" >"$work/out"
  if [ "$rc" -ne "$want_rc" ] || ! grep -qxF -- "$want" "$work/out"; then
    fail "$name" "exit $rc (want $want_rc), output: $(tr '\n' '|' <"$work/out")"
    return 1
  fi
  pass "$name (${elapsed_ms} ms)"
}
# Milliseconds between the first lines that start with $1 and with $2.
between() {
  awk -v a="$1" -v b="$2" '{ line = substr($0, 18) }
    ta == "" && index(line, a) == 1 { ta = $1 }
    tb == "" && index(line, b) == 1 { tb = $1 }
    END { print int((tb - ta) / 1000) }' "$work/timed"
}
dump_ok() {  # NAME [--reruns]
  if python3 "$repo/scripts/rig/expect-dump.py" "$enc" "$work/dump.json" "${@:2}" >"$work/check" 2>&1; then
    pass "$1"
  else
    fail "$1" "$(tr '\n' '|' <"$work/check")"
  fi
}

# Detect: an identified board, then one that never answers its identify.
start_board '{}' || fail "board start" "no hidraw node"
run "detect" 0 "Connected: Ferrit XR, version 3.02b" "$velkor" detect
stop_board
start_board '{"identifies": false}'
run "detect unidentified" 1 "Connected: unidentified device" "$velkor" detect
stop_board

# Program, then the dump against the file's own bytes. The flash is cleared
# to zeros first, so a block programmed without its erase shows.
printf 'fill 0x000000 16384 0x00\n' >"$work/zeros.fw"
"$build/tools/make_firmware" "$work/zeros.fw" "$work/zeros.enc"
start_board "{\"dump\": \"$work/dump.json\"}"
run "program zeros" 0 "Update complete!" "$velkor" program "$work/zeros.enc"
run "program" 0 "Update complete!" "$velkor" program "$enc" && { stop_board; dump_ok "program dump"; } || stop_board

# The service commands with the password.
start_board '{"shot_counter": 4321}'
input=$work/password
echo zephyr >"$input"
run "shots" 0 "4321" "$velkor" shots --password-stdin
run "shots --set" 0 "New shot counter set" "$velkor" shots --set 77 --password-stdin
run "shots after set" 0 "77" "$velkor" shots --password-stdin
run "pressure" 0 "2D = 102030  2B = A0B0C0" "$velkor" pressure --password-stdin
input=/dev/null
stop_board

# A silent board: the erase error within the read time-out and the two pauses.
start_board '{"silent": ["0xC2"]}'
if run "silent erase" 1 "Error -1 erasing 0x000000" "$velkor" program "$enc"; then
  # The whole run: time-out and pauses, with room for the VM's slowness.
  limit=$((5000 + 2 * 500 + 2000))
  [ "$elapsed_ms" -le "$limit" ] && pass "silent erase within ${limit} ms" ||
    fail "silent erase time" "${elapsed_ms} ms, over ${limit} ms"
  # The erase alone: the read time-out, neither cut short nor stretched.
  wait_ms=$(between "Erasing flash block" "Error -1 erasing")
  [ "$wait_ms" -ge 4900 ] && [ "$wait_ms" -le 5500 ] && pass "erase time-out ${wait_ms} ms" ||
    fail "erase time-out" "${wait_ms} ms, not 4900-5500 ms"
fi
stop_board

# Unplugged in the middle of an update, plugged in again, run again.
start_board "{\"unplug_after\": 60, \"replug_after_ms\": 1500, \"dump\": \"$work/dump.json\"}"
rc=0
timeout -k 5 60 "$velkor" program "$enc" >"$work/out" 2>&1 || rc=$?
if [ "$rc" -eq 1 ] && grep -q '^Error' "$work/out" && ! grep -qxF "Update complete!" "$work/out"; then
  pass "unplug mid-update is an error (exit $rc: $(grep -m1 '^Error' "$work/out"))"
else
  fail "unplug mid-update" "exit $rc, output: $(tr '\n' '|' <"$work/out")"
fi
if wait_plugged 2; then
  run "rerun after replug" 0 "Update complete!" "$velkor" program "$enc" &&
    { stop_board; dump_ok "rerun dump" --reruns; } || stop_board
else
  fail "replug" "no second device: $(tr '\n' '|' <"$work/board.log")"
  stop_board
fi

# Not root, node not accessible: the pointer to the udev rule, exit 3.
start_board '{}'
chmod 600 /dev/hidraw*
run "unprivileged" 3 "A board is attached but this user may not open it: install packaging/udev/70-velkor.rules into /etc/udev/rules.d and replug the board (see docs/linux-access.md)" \
  setpriv --reuid=nobody --regid=nogroup --clear-groups "$velkor" detect
stop_board

# The board itself without access to /dev/uhid: one line with the fix.
run "board without /dev/uhid access" 1 "velkor-virtual-board: cannot open /dev/uhid: Permission denied; run as root, or give your user access to /dev/uhid with a udev rule (see docs/virtual-board.md)" \
  setpriv --reuid=nobody --regid=nogroup --clear-groups "$board_bin"

echo "linux-hid: $failures failed"
exit "$failures"
