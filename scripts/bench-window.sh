#!/usr/bin/env bash
# The Windows program's update time under Wine against velkor's, same file,
# same full-speed timing model (scenario "latency": "usb-fs"):
#   scripts/bench-window.sh [COPIES]
# The file is examples/demo.enc COPIES times over (default 2). Each side runs
# three times; the best of each is compared. Build folders: $BUILD (native,
# default build-bench) and build-win (MinGW-w64).
set -euo pipefail
cd "$(dirname "$0")/.."

copies=${1:-2}
build=${BUILD:-build-bench}
build_win=build-win
jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset bench -B "$build" >/dev/null
cmake --build "$build" -j "$jobs" --target velkor >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target window_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for _ in $(seq "$copies"); do cat examples/demo.enc; done >"$work/bench.enc"
printf '{ "latency": "usb-fs" }\n' >"$work/usb-fs.json"
echo "file: $(stat -c %s "$work/bench.enc") bytes (examples/demo.enc x $copies)"

best() { sort -g | head -1; }

for _ in 1 2 3; do
  start=$(date +%s.%N)
  "$build/cli/velkor" --sim "$work/usb-fs.json" program "$work/bench.enc" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
done | best >"$work/cli"

winfile="Z:$(echo "$work/bench.enc" | tr / '\\')"
for _ in 1 2 3; do
  VELKOR_BENCH_FILE="$winfile" bash scripts/wine-run.sh "$build_win/wineprefix" \
    "$build_win/bin/window_bench.exe" | tr -d '\r' | awk '/^window_update_seconds/ { print $2 }'
done | best >"$work/window"

cli=$(cat "$work/cli")
window=$(cat "$work/window")
[ -n "$window" ] || { echo "the window's update did not complete" >&2; exit 1; }
printf 'velkor program:   %.3f s\n' "$cli"
printf 'window (Wine):    %.3f s\n' "$window"
printf 'ratio:            %.3f (target at most 1.05)\n' "$(echo "$window / $cli" | bc -l)"
