#!/usr/bin/env bash
# The README's quick start as a new user meets it, after scripts/test.sh: the
# window's script runs without a warning, and afterwards the test script's
# configuration finds both build folders as it left them (nothing to redo).
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "check-quickstart: FAILED: $*" >&2; exit 1; }

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Headless even where there is a display: nobody is there to close the window.
env -u DISPLAY bash scripts/run-window.sh 2>&1 | tee "$log"
grep -q "^No display: ran under Xvfb. Screenshot of the window: " "$log" || fail "run-window.sh saved no screenshot"
! grep -q "CMake Warning" "$log" || fail "run-window.sh printed a CMake warning"

for preset in native windows; do
  cmake --preset "$preset" >"$log" 2>&1 || { cat "$log"; fail "cmake --preset $preset"; }
  ! grep -q "CMake Warning" "$log" || { cat "$log"; fail "cmake --preset $preset warned"; }
done
for dir in build build-win; do
  ninja -C "$dir" -n | grep -q "no work to do" || fail "$dir would be rebuilt after run-window.sh: $(ninja -C "$dir" -n | head -3)"
done
echo "check-quickstart: run-window.sh and test.sh share build/ and build-win/ without a warning or a rebuild"
