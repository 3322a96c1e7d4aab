#!/usr/bin/env bash
# Plants faults one at a time from a list, rebuilds incrementally, runs the
# suite and reports each fault as caught or missed.
#
#   scripts/mutation-check.sh [--windows] [--only N[,N...]] LIST
#
# LIST: '#' lines are comments, entries are separated by blank lines:
#   file: link/commands.cpp
#   find: report[7] = 0xAA;
#   replace: report[7] = 0x55;
#   feel: every erase is refused by the board, so no update can complete
# Values are taken literally after "key: "; `find` must occur exactly once.
#
# Native: rebuilds build/ and runs its ctest suite but the VM rig. --windows:
# rebuilds build-win/ and runs its Wine tests on a virtual display, then, for
# a fault they miss, the Wine rig (with build/'s virtual board). Exit status is non-zero when any fault is missed, any
# entry is malformed or a planted fault does not build.
# MUTATION_TIMEOUT sets the per-test time-out in seconds (default 60).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2

windows=0
only=""
list=""
while [ $# -gt 0 ]; do
  case "$1" in
    --windows) windows=1 ;;
    --only) only="$2"; shift ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    -*) echo "unknown option: $1" >&2; exit 2 ;;
    *) list="$1" ;;
  esac
  shift
done
if [ -z "$list" ] || [ ! -f "$list" ]; then
  echo "usage: $0 [--windows] [--only N[,N...]] LIST" >&2
  exit 2
fi
timeout_s=${MUTATION_TIMEOUT:-60}
jobs=2

# Parses the list; "parse" prints one line per entry, "plant N" applies entry N.
read -r -d '' py <<'EOF'
import sys

def entries(path):
    out, cur, start = [], None, 0
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for no, line in enumerate(lines + [""], 1):
        if line.startswith("#"):
            continue
        if line.strip() == "":
            if cur is not None:
                out.append((start, cur))
                cur = None
            continue
        if cur is None:
            cur, start = {}, no
        key, sep, value = line.partition(":")
        if not sep or key not in ("file", "find", "replace", "feel"):
            cur.setdefault("_errors", []).append("line %d: not 'file|find|replace|feel: value'" % no)
            continue
        if key in cur:
            cur.setdefault("_errors", []).append("line %d: second '%s'" % (no, key))
        cur[key] = value[1:] if value.startswith(" ") else value
    return out

def check(e):
    errs = list(e.get("_errors", []))
    for k in ("file", "find", "replace", "feel"):
        if k not in e:
            errs.append("no '%s'" % k)
    if errs:
        return errs
    if not e["find"]:
        return ["empty 'find'"]
    if e["find"] == e["replace"]:
        return ["'replace' equals 'find'"]
    try:
        with open(e["file"], encoding="utf-8") as f:
            n = f.read().count(e["find"])
    except OSError as x:
        return ["cannot read %s: %s" % (e["file"], x.strerror)]
    if n != 1:
        return ["'find' occurs %d times in %s, not once" % (n, e["file"])]
    return []

cmd, path = sys.argv[1], sys.argv[2]
all_entries = entries(path)
if cmd == "parse":
    for i, (line, e) in enumerate(all_entries, 1):
        errs = check(e)
        if errs:
            print("ERR\t%d\t%s:%d: %s" % (i, path, line, "; ".join(errs)))
        else:
            print("OK\t%d\t%s\t%s" % (i, e["file"], e["feel"].replace("\t", " ")))
elif cmd == "plant":
    e = all_entries[int(sys.argv[3]) - 1][1]
    if check(e):
        sys.exit("entry %s no longer applies" % sys.argv[3])
    with open(e["file"], encoding="utf-8") as f:
        text = f.read()
    with open(e["file"], "w", encoding="utf-8") as f:
        f.write(text.replace(e["find"], e["replace"], 1))
EOF

tmp=$(mktemp -d)
planted=""   # the file holding a planted fault, restored from $tmp/original
restore() {
  if [ -n "$planted" ]; then
    # A plain copy gives the file a new time stamp, so the next build
    # recompiles it rather than keeping the planted object.
    cp "$tmp/original" "$planted"
    planted=""
  fi
}
cleanup() { restore; rm -rf "$tmp"; }
trap cleanup EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM HUP

if ! python3 -c "$py" parse "$list" > "$tmp/entries"; then
  echo "cannot read $list" >&2
  exit 2
fi
errors=$(grep -c '^ERR' "$tmp/entries")
grep '^ERR' "$tmp/entries" | cut -f3- | sed 's/^/error: /'

# Never plant into, or restore over, work that is not committed.
dirty=0
for f in $(grep '^OK' "$tmp/entries" | cut -f3 | sort -u); do
  if ! git diff --quiet HEAD -- "$f"; then
    echo "refusing: $f has uncommitted changes" >&2
    dirty=1
  fi
done
[ $dirty -eq 0 ] || exit 2

# The folders and their options are CMakePresets.json's. The rigs set their
# own time-outs, which --timeout leaves alone.
preset=native build_dir=build
[ $windows -eq 1 ] && preset=windows build_dir=build-win
configure() { cmake --preset $preset; }
build() { cmake --build --preset $preset -j $jobs; }
suite() {
  if [ $windows -eq 1 ]; then
    # The Wine tests first, the Wine rig only for a fault they miss: ctest
    # would start the longest test first, and the rig takes minutes.
    bash scripts/wine-display.sh build-win/wineprefix \
      ctest --preset windows -L wine --stop-on-failure -j $jobs --timeout "$timeout_s" &&
      ctest --preset windows -L rig
  else
    ctest --preset native -L unit --stop-on-failure -j $jobs --timeout "$timeout_s"
  fi
}

# The unplanted tree must build and pass, or every fault would look caught.
if [ ! -f "$build_dir/build.ninja" ]; then
  configure > "$tmp/log" 2>&1 || { cat "$tmp/log"; echo "cannot configure $build_dir" >&2; exit 2; }
fi
if [ $windows -eq 1 ] && [ ! -f build/build.ninja ]; then
  cmake --preset native > "$tmp/log" 2>&1 || { cat "$tmp/log"; echo "cannot configure build" >&2; exit 2; }
fi
echo "baseline: building and running the suite without a fault"
if ! build > "$tmp/log" 2>&1; then tail -40 "$tmp/log"; echo "baseline does not build" >&2; exit 2; fi
if ! suite > "$tmp/log" 2>&1; then tail -40 "$tmp/log"; echo "baseline suite fails" >&2; exit 2; fi

caught=0; missed=0; broken=0; total=0
missed_list=()
while IFS=$'\t' read -r status n file feel; do
  [ "$status" = OK ] || continue
  if [ -n "$only" ] && [[ ",$only," != *",$n,"* ]]; then continue; fi
  total=$((total + 1))
  start=$(date +%s)
  cp "$file" "$tmp/original"
  planted=$file
  if ! python3 -c "$py" plant "$list" "$n"; then
    restore; errors=$((errors + 1)); continue
  fi
  if ! build > "$tmp/log" 2>&1; then
    result="NO BUILD"; broken=$((broken + 1))
    grep -m3 -E 'error' "$tmp/log" | sed 's/^/    /'
    missed_list+=("#$n $file (does not build)")
  elif suite > "$tmp/log" 2>&1; then
    result="MISSED"; missed=$((missed + 1))
    missed_list+=("#$n $file: $feel")
  else
    result="caught"; caught=$((caught + 1))
  fi
  restore
  printf '#%-3s %-8s %3ss  %s: %s\n' "$n" "$result" $(( $(date +%s) - start )) "$file" "$feel"
done < "$tmp/entries"

# Leave the build matching the tree again.
build > /dev/null 2>&1 || true

echo "caught $caught of $total; missed $missed; not building $broken; malformed $errors"
for m in "${missed_list[@]}"; do echo "  $m"; done
[ $missed -eq 0 ] && [ $broken -eq 0 ] && [ "$errors" -eq 0 ]
