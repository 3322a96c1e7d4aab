#!/usr/bin/env bash
# Builds the browser front end and drives it in headless Chromium
# (tests/web/): detection, an update of examples/demo.enc against the
# simulated board, the scenarios, the page without WebHID. When the native
# build has velkor (build/cli/velkor), the page's board must end up holding
# what velkor --sim leaves in its own after the same update.
#   scripts/test-web.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# The image's own node may bring npm; Debian's npm is wanted only without one.
bash scripts/install-deps.sh --only chromium $(command -v npm >/dev/null || echo npm)
site=$(bash scripts/run-web.sh --build-only | tail -n 1)
# Only playwright-core, pinned by package-lock.json; it uses Debian's Chromium.
[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -x build/cli/velkor ]; then
  python3 -c 'import json, sys; s = json.load(open("examples/scenarios/demo.json")); s["dump"] = sys.argv[1]; print(json.dumps(s))' \
    "$work/dump.json" >"$work/scenario.json"
  build/cli/velkor --sim "$work/scenario.json" program examples/demo.enc >/dev/null
  export REFERENCE_DUMP=$work/dump.json
fi
SITE=$site node --test tests/web/
