#!/usr/bin/env bash
# Renders resources/icons/velkor.icons into the .ico files beside it. Run it
# after changing the description; the native tests check the two agree. The
# tool is the native build's (build/resources/make_icons).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target make_icons
build/resources/make_icons resources/icons/velkor.icons resources/icons
