#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan, UBSan) and runs each one for
# a bounded time. Fails on a crash, a sanitizer report, a leak, a time-out or
# running out of memory; the input that did it is kept in
# fuzz/regressions/<target>/, where the native test suite replays it.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]    default 60
# FUZZ_BUILD_DIR chooses the build folder (default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
targets=(firmware_reader update_job sim_board)
jobs=$(nproc 2>/dev/null || echo 2)

# libFuzzer and the sanitizer runtimes come with Debian's clang.
bash scripts/install-deps.sh clang libclang-rt-dev

cmake --preset fuzz -B "$build"
cmake --build "$build" -j "$jobs" --target make_firmware "${targets[@]/#/fuzz_}"

bash fuzz/make_seeds.sh "$build/tools/make_firmware"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
for target in "${targets[@]}"; do
  work="$build/fuzz-work/$target"
  rm -rf "$work/artifacts"
  mkdir -p "$work/corpus" "$work/artifacts"
  echo "fuzz: $target for ${seconds}s"
  # New inputs go to the first folder, the build's; the seeds stay as made.
  # Files stay small so more of them run; the demo file's start still counts.
  max_len=4096
  [ "$target" != sim_board ] || max_len=8192
  if ! "$build/fuzz/fuzz_$target" "$work/corpus" "fuzz/corpus/$target" -max_len="$max_len" \
      -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/" > "$work/log" 2>&1; then
    failed+=("$target")
  fi
  # Any input left behind failed, whatever the exit status said.
  if compgen -G "$work/artifacts/*" > /dev/null; then
    mkdir -p "fuzz/regressions/$target"
    for artifact in "$work/artifacts/"*; do
      cp "$artifact" "fuzz/regressions/$target/"
      echo "fuzz: $target: kept fuzz/regressions/$target/$(basename "$artifact")"
    done
    [[ " ${failed[*]} " == *" $target "* ]] || failed+=("$target")
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done )' "$work/log" | sed "s/^/fuzz: $target: /" || true
done

if [ ${#failed[@]} -ne 0 ]; then
  for target in "${failed[@]}"; do
    echo "fuzz: $target FAILED; log: $build/fuzz-work/$target/log" >&2
    grep -E -A30 '^==[0-9]+==ERROR|runtime error|^SUMMARY|ALARM|out-of-memory' "$build/fuzz-work/$target/log" | head -60 >&2 || true
  done
  exit 1
fi
echo "fuzz: all targets clean"
