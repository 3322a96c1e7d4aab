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
hidraw_nodes() { local n; for n in /dev/hidraw*; do [ -e "$n" ] && echo "$n"; done; }
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
# Boards by name ("board" unless given), each with its own scenario and log
# in $work and the hidraw node it made in ${node[NAME]}.
declare -A board_pids node
start_board() {  # SCENARIO-JSON [NAME]
  local name=${2:-board} before deadline=$((SECONDS + 30)) n
  before=$(echo $(hidraw_nodes))
  echo "$1" >"$work/$name.json"
  rm -f "$work/dump.json"
  "$board_bin" "$work/$name.json" >"$work/$name.log" 2>&1 &
  board_pids[$name]=$!
  while [ "$SECONDS" -lt "$deadline" ]; do
    if grep -q 'device created' "$work/$name.log"; then
      for n in $(hidraw_nodes); do
        case " $before " in *" $n "*) ;; *) node[$name]=$n; return 0 ;; esac
      done
    fi
    sleep 0.2
  done
  cat "$work/$name.log"
  return 1
}
# Stops the board and waits for its node to go (each board left has one).
stop_board() {  # [NAME]
  local name=${1:-board}
  kill -TERM "${board_pids[$name]}" 2>/dev/null
  wait "${board_pids[$name]}"
  local rc=$?
  unset "board_pids[$name]"
  local deadline=$((SECONDS + 10))
  while [ "$(hidraw_nodes | wc -l)" -gt "${#board_pids[@]}" ] && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
  return $rc
}
# run NAME EXPECTED-RC EXPECTED-LINE VELKOR-ARGS... (stdin from $input).
# $work/timed has each line after the microsecond it arrived; elapsed_ms
# runs from velkor's first line to its end, so the VM's slow process start
# does not count. No command may hang the rig: each gets a minute. Runs at
# the same time keep their files apart with $tag.
input=/dev/null tag=
run() {
  local name=$1 want_rc=$2 want=$3; shift 3
  local rc line timed=$work/timed$tag out=$work/out$tag
  timeout -k 5 60 "$@" <"$input" 2>&1 | while IFS= read -r line; do
    printf '%s %s\n' "${EPOCHREALTIME/./}" "$line"
  done >"$timed"
  rc=${PIPESTATUS[0]}
  local end=${EPOCHREALTIME/./} first
  first=$(head -c 16 "$timed")
  elapsed_ms=$(( (end - ${first:-$end}) / 1000 ))
  cut -d ' ' -f 2- "$timed" >"$out"
  if [ "$rc" -ne "$want_rc" ] || ! grep -qxF -- "$want" "$out"; then
    fail "$name" "exit $rc (want $want_rc), output: $(tr '\n' '|' <"$out")"
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
dump_ok() {  # NAME DUMP [--reruns]
  if python3 "$repo/scripts/rig/expect-dump.py" "$enc" "${@:2}" >"$work/check" 2>&1; then
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
run "program" 0 "Update complete!" "$velkor" program "$enc" && { stop_board; dump_ok "program dump" "$work/dump.json"; } || stop_board
grep -qxF "Board now reports: Connected: Ferrit XR, version 3.02b" "$work/out" &&
  pass "program: the booted board's word" || fail "program: the booted board's word" "$(tr '\n' '|' <"$work/out")"

# The booted board's word: silent after its boot, and gone from the bus at
# the first identify after the update, to come back 1.5 s later as a new
# device. (Gone with the update's last reply, it would race the host's read
# of that reply.)
start_board '{"silent_after_boot": true}'
run "silent after boot" 4 "The board did not answer after booting; check it before use" "$velkor" program "$enc"
stop_board
# The update's reports and the confirmation's identify, less its reply.
reports=$("$velkor" --sim demo --verbose program "$enc" 2>&1 | grep -c '^write\|^read ')
start_board "{\"unplug_after\": $((reports - 1)), \"replug_after_ms\": 1500}"
run "re-enumerated after boot" 0 "Board now reports: Connected: Ferrit XR, version 3.02b" "$velkor" program "$enc"
stop_board

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

# The erase error of a board silent at the erase, within the exchange
# deadline and the two pauses.
erase_timed_out() {  # NAME
  if run "$1" 1 "Error -1 erasing 0x000000" "$velkor" program "$enc"; then
    # The whole run: deadline and pauses, with room for the VM's slowness.
    local limit=$((5000 + 2 * 500 + 2000)) wait_ms
    [ "$elapsed_ms" -le "$limit" ] && pass "$1 within ${limit} ms" ||
      fail "$1 time" "${elapsed_ms} ms, over ${limit} ms"
    # The erase alone: the deadline, neither cut short nor stretched.
    wait_ms=$(between "Erasing flash block" "Error -1 erasing")
    [ "$wait_ms" -ge 4900 ] && [ "$wait_ms" -le 5500 ] && pass "$1: time-out ${wait_ms} ms" ||
      fail "$1: time-out" "${wait_ms} ms, not 4900-5500 ms"
  fi
}

# A silent board.
start_board '{"silent": ["0xC2"]}'
erase_timed_out "silent erase"
stop_board

# A board that chatters all the time: its reports neither stretch the erase
# past the deadline nor hide the identify reply.
start_board '{"chatter_ms": 100, "silent": ["0xC2"]}'
# The chatter itself, read from the node for a second.
counts=$(python3 - "${node[board]}" <<'PY'
import os, select, sys, time
fd = os.open(sys.argv[1], os.O_RDONLY)
chatter = other = 0
end = time.monotonic() + 1
while (left := end - time.monotonic()) > 0:
    if select.select([fd], [], [], left)[0]:
        if os.read(fd, 64) == b"\xee" + bytes(7):
            chatter += 1
        else:
            other += 1
print(chatter, other)
PY
)
read -r chatter other <<<"$counts"
[ "${chatter:-0}" -ge 7 ] && [ "$chatter" -le 12 ] && [ "$other" -eq 0 ] &&
  pass "chatter: $chatter reports in 1 s" ||
  fail "chatter" "${chatter:-no} reports of 0xEE and ${other:-?} others in 1 s, not 7-12"
run "chatter: detect" 0 "Connected: Ferrit XR, version 3.02b" "$velkor" detect
erase_timed_out "chatter: silent erase"
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
    { stop_board; dump_ok "rerun dump" "$work/dump.json" --reruns; } || stop_board
else
  fail "replug" "no second device: $(tr '\n' '|' <"$work/board.log")"
  stop_board
fi

# One board, two programs. The second, and a detection, start while the
# first holds the board: both find it busy. The first is stopped meanwhile,
# so under TCG it cannot finish before they start; should that land between
# its request and its read, its exchange deadline (5 s) runs on, so the two
# run side by side to keep it short. One update in the dump shows that the
# second updated nothing.
busy="Board in use by another program"
start_board "{\"dump\": \"$work/dump.json\"}"
timeout -k 5 60 "$velkor" program "$enc" >"$work/first.out" 2>&1 &
first=$!  # timeout leads its own process group, velkor in it
deadline=$((SECONDS + 30))
# Held as soon as it has the board: the uploads pass in a fraction of a
# second, quicker than this loop may look, but the loader's 500 ms settle
# comes first.
until grep -q '^Starting update process' "$work/first.out" || [ "$SECONDS" -ge "$deadline" ]; do sleep 0.05; done
kill -STOP -- -"$first"
stopped_at=${EPOCHREALTIME/./}
grep -qxF "Update complete!" "$work/first.out" && fail "busy" "the first program ended before the others started"
(tag=.detect run "busy: detect" 3 "$busy" "$velkor" detect) &
detect=$!
(tag=.second run "busy: second program" 3 "$busy" "$velkor" program "$enc") &
second=$!
wait "$detect" || failures=$((failures + 1))
wait "$second" || failures=$((failures + 1))
stopped_ms=$(( (${EPOCHREALTIME/./} - stopped_at) / 1000 ))
kill -CONT -- -"$first"
rc=0
wait "$first" || rc=$?
if [ "$rc" -eq 0 ] && grep -qxF "Update complete!" "$work/first.out"; then
  pass "busy: first program completes (held ${stopped_ms} ms)"
else
  fail "busy: first program" "exit $rc after ${stopped_ms} ms held, output: $(tail -n 5 "$work/first.out" | tr '\n' '|')"
fi
stop_board
dump_ok "busy: one update in the dump" "$work/dump.json"

# Two boards at once. No update without --device; with it, only the board
# named: the other is not even opened (its dump, written on every close,
# does not come back).
no_update() {  # NAME DUMP
  [ -e "$2" ] || { pass "$1 (never opened)"; return; }
  if python3 -c 'import json, sys; d = json.load(open(sys.argv[1]))
sys.exit(d.get("code") != [] or d.get("data") != {} or d.get("mode") != "application")' "$2" 2>"$work/check"; then
    pass "$1"
  else
    fail "$1" "$(head -c 300 "$2" 2>&1; tr '\n' '|' <"$work/check")"
  fi
}
ident="Connected: Ferrit XR, version 3.02b"
if start_board "{\"dump\": \"$work/a.dump\"}" a && start_board "{\"dump\": \"$work/b.dump\"}" b; then
  if run "two boards: detect" 0 "${node[a]}: $ident" "$velkor" detect; then
    printf '%s\n' "${node[a]}: $ident" "${node[b]}: $ident" | sort >"$work/want"
    sort "$work/out" | cmp -s - "$work/want" && pass "two boards: detect lists both, one line each" ||
      fail "two boards: detect lists" "$(tr '\n' '|' <"$work/out")"
  fi
  if run "two boards: program refused" 2 "velkor: More than one board attached; choose one with --device:" \
    "$velkor" program "$enc"; then
    grep -qxF "  ${node[a]}: $ident" "$work/out" && grep -qxF "  ${node[b]}: $ident" "$work/out" &&
      pass "two boards: the refusal lists both" ||
      fail "two boards: the refusal lists" "$(tr '\n' '|' <"$work/out")"
  fi
  no_update "two boards: refused, no update in a" "$work/a.dump"
  no_update "two boards: refused, no update in b" "$work/b.dump"
  rm -f "$work/b.dump"
  run "two boards: --device" 0 "Update complete!" "$velkor" --device "${node[a]}" program "$enc"
  [ ! -e "$work/b.dump" ] && pass "two boards: --device leaves the other closed" ||
    fail "two boards: --device" "the other board was opened"
  # Any name of the node: a symlink, as a udev rule makes, and the bare name.
  ln -sf "${node[b]}" "$work/velkor-b"
  run "two boards: --device through a symlink" 0 "$ident" "$velkor" --device "$work/velkor-b" detect
  run "two boards: --device by node name" 0 "$ident" "$velkor" --device "${node[b]#/dev/}" detect
else
  fail "two boards" "no second hidraw node: $(cat "$work/a.log" "$work/b.log" | tr '\n' '|')"
fi
stop_board a
stop_board b
dump_ok "two boards: --device dump" "$work/a.dump"
no_update "two boards: no update in the other" "$work/b.dump"

# A bench: three boards one after another on one running velkor, the second
# refusing its erases, then Ctrl+C. Each next board comes more than the
# second after the last one left that velkor gives a board to come back.
wait_lines() {  # FILE TEXT COUNT: up to 60 s
  local deadline=$((SECONDS + 60))
  until [ "$(grep -cF -- "$2" "$1")" -ge "$3" ]; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.1
  done
}
bench=$work/bench.out
# A background job of a script ignores SIGINT unless given it back.
env --default-signal=INT "$velkor" program --each "$enc" >"$bench" 2>&1 </dev/null &
each=$!
bench_board() {  # N SCENARIO OUTCOME, the Nth board
  sleep 1.5
  start_board "$2" && wait_lines "$bench" "| $3 |" "$(grep -cF "| $3 |" "$bench" | awk '{ print $1 + 1 }')" &&
    wait_lines "$bench" "Unplug the board to go on" "$1" && stop_board &&
    wait_lines "$bench" "Waiting for a board..." "$(($1 + 1))"
}
if bench_board 1 "{\"dump\": \"$work/bench1.json\"}" updated &&
  bench_board 2 '{"status": {"0xC2": 5}}' failed &&
  bench_board 3 "{\"dump\": \"$work/bench3.json\"}" updated; then
  kill -INT "$each"
  rc=0
  wait "$each" || rc=$?
  if [ "$rc" -eq 1 ] && [ "$(tail -n 1 "$bench")" = "3 boards: 2 updated, 1 failed" ] &&
    [ "$(grep -c "^/dev/hidraw[0-9]* | $ident | " "$bench")" -eq 3 ]; then
    pass "program --each: three boards, the summary and exit 1"
  else
    fail "program --each" "exit $rc, output: $(tr '\n' '|' <"$bench")"
  fi
  dump_ok "program --each: the first board's dump" "$work/bench1.json"
  dump_ok "program --each: the third board's dump" "$work/bench3.json"
else
  fail "program --each" "stuck, output: $(tr '\n' '|' <"$bench")"
  kill -KILL "$each"
  stop_board
fi

# Not root, node not accessible: the pointer to the udev rule, exit 3; with
# the rule installed (in the guest only), what is then wrong.
start_board '{}'
chmod 600 /dev/hidraw*
rules=(/usr/lib/udev/rules.d/70-velkor.rules /etc/udev/rules.d/70-velkor.rules)
rm -f "${rules[@]}"
run "unprivileged" 3 "A board is attached but this user may not open it: install packaging/udev/70-velkor.rules into /etc/udev/rules.d and replug the board (see docs/linux-access.md)" \
  setpriv --reuid=nobody --regid=nogroup --clear-groups "$velkor" detect
mkdir -p /etc/udev/rules.d && cp "$repo/packaging/udev/70-velkor.rules" /etc/udev/rules.d/
run "unprivileged, rule installed" 3 "A board is attached but this user may not open it, although 70-velkor.rules is installed: the rule lets in only the user logged in at the machine itself, not an ssh login or a second session; give the board to a group instead (see linux-access.md, in /usr/share/doc/velkor or docs/)" \
  setpriv --reuid=nobody --regid=nogroup --clear-groups "$velkor" detect
rm -f "${rules[@]}"
stop_board

# The board itself without access to /dev/uhid: one line with the fix.
run "board without /dev/uhid access" 1 "velkor-virtual-board: cannot open /dev/uhid: Permission denied; run as root, or give your user access to /dev/uhid with a udev rule (see docs/virtual-board.md)" \
  setpriv --reuid=nobody --regid=nogroup --clear-groups "$board_bin"

echo "linux-hid: $failures failed"
exit "$failures"
