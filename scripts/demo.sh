#!/usr/bin/env bash
# Installs what the build needs, builds velkor into build/ and programs the
# demo firmware file into the simulated board.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset native
cmake --build --preset native -j "$jobs" --target velkor

./build/cli/velkor --sim demo program examples/demo.enc
