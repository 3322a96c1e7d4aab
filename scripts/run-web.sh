#!/usr/bin/env bash
# Builds the browser front end (web/) with Emscripten and serves it on
# http://localhost:PORT; open it with ?demo for the simulated board.
#   scripts/run-web.sh [--build-only] [--port PORT]
# --build-only builds and prints the site's folder as its last line.
# VELKOR_WEB_BUILD names the build folder (default build-web).
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=0
port=8000
while [ $# -gt 0 ]; do
  case "$1" in
    --build-only) build_only=1 ;;
    --port) port=${2:?--port needs a number}; shift ;;
    *) echo "usage: scripts/run-web.sh [--build-only] [--port PORT]" >&2; exit 2 ;;
  esac
  shift
done

# g++ and imagemagick draw the installed app's icons.
bash scripts/install-deps.sh --only cmake ninja-build python3 nlohmann-json3-dev emscripten g++ imagemagick
# Debian's emcc finds its JavaScript parser only through this (web/CMakeLists.txt
# sets it for the link step too).
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
build=${VELKOR_WEB_BUILD:-build-web}
mkdir -p "$build"
cmake --preset web -B "$build" >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j2
site=$(realpath "$build/site")

if [ "$build_only" -eq 1 ]; then
  echo "$site"
  exit 0
fi
echo "Serving $site"
echo "Open http://localhost:$port/ (a real board, through WebHID) or http://localhost:$port/?demo (the simulated board); Ctrl+C stops."
# With a display, a browser opens the page once the server is up; without one,
# or without xdg-open, only the address above is given.
if { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } && command -v xdg-open >/dev/null; then
  (sleep 1; xdg-open "http://localhost:$port/" >/dev/null 2>&1 || true) &
fi
# With the headers a host should send (docs/web.md).
exec python3 scripts/serve-web.py "$port" "$site"
