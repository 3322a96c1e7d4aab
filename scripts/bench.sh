#!/usr/bin/env bash
# Runs the benchmarks and prints the figures docs/performance.md lists:
#   scripts/bench.sh          native benchmarks, then the window under Wine
#   scripts/bench.sh --native the native benchmarks only
#   scripts/bench.sh --web    the page's time per record in demo mode
#                             (bench/web/page-bench.mjs, headless Chromium)
# Build folder: $BUILD (default build-bench). Extra arguments after --native
# go to the benchmark program.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build-bench}
jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset bench -B "$build" >/dev/null
if [ "${1:-}" = "--web" ]; then
  cmake --build "$build" -j "$jobs" --target make_firmware >/dev/null
  site=$(bash scripts/run-web.sh --build-only | tail -n 1)
  [ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund
  # Without the server's request lines.
  node bench/web/page-bench.mjs "$site" "$build/tools/make_firmware" 2>&1 | grep -v 'HTTP/1.1" '
  exit
fi
cmake --build "$build" -j "$jobs" --target velkor_bench velkor >/dev/null
[ -x "$build/bench/velkor_bench" ] || { echo "Google Benchmark not found: apt-get install libbenchmark-dev" >&2; exit 1; }

echo "== $(uname -srm); $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) CPUs"
native_only=0
if [ "${1:-}" = "--native" ]; then native_only=1; shift; fi
"$build/bench/velkor_bench" "$@"

if [ $native_only = 0 ]; then
  echo "== the window under Wine against velkor"
  BUILD="$build" bash scripts/bench-window.sh
fi
