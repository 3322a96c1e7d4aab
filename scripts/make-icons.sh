#!/usr/bin/env bash
# Renders resources/icons/velkor.icons into the .ico files beside it. Run it
# after changing the description; the native tests check the two agree.
set -euo pipefail
cd "$(dirname "$0")/.."
tool=$(mktemp -d)
trap 'rm -rf "$tool"' EXIT
g++ -std=c++17 -O2 -Wall -Wextra -o "$tool/make_icons" resources/icons/make_icons.cpp
"$tool/make_icons" resources/icons/velkor.icons resources/icons
