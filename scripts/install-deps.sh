#!/usr/bin/env bash
# Installs what the build, the tests and the packages need from Debian's
# packages, plus any package named on the command line. Safe to run again:
# it installs only what is missing.
#   scripts/install-deps.sh [PACKAGE...]
#   scripts/install-deps.sh --only PACKAGE...   (just those, as scripts/run-web.sh asks)
set -euo pipefail

if [ "${1:-}" = --only ]; then
  shift
  packages=("$@")
else
packages=(
  cmake ninja-build g++ make pkg-config
  libgtest-dev googletest libbenchmark-dev
  nlohmann-json3-dev libcli11-dev libhidapi-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 fonts-wine xvfb xauth imagemagick xdotool
  dpkg-dev file lintian man-db bash-completion unzip
  qemu-system-x86 busybox-static cpio kmod python3 universal-ctags
  "$@"
)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: these packages are missing: ${missing[*]}" >&2
    echo "install-deps: installing them needs root: run this script as root or install sudo" >&2
    exit 1
  fi
  sudo=(sudo)
fi
# apt's own lines (what it fetches, unpacks and sets up) show it is working;
# its progress bars are left out, they make a mess of logs.
echo "install-deps: installing ${#missing[@]} packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: updating the package lists"
"${sudo[@]}" apt-get update -q
echo "install-deps: downloading and installing"
"${sudo[@]}" apt-get install -y -q --no-install-recommends -o Dpkg::Use-Pty=0 "${missing[@]}"
echo "install-deps: done"
