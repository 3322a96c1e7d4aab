#!/usr/bin/env bash
# Builds the Debian package and the Windows zip, lints the package, installs
# it on this machine and checks what it installed, from the installed files
# only; removes it and checks that nothing is left; then starts the simulated
# board's program from the unpacked zip in a fresh Wine prefix. Needs root
# (or sudo) for dpkg. The packages stay in build-pkg/packages/ and
# build-win/packages/.
#   scripts/check-packages.sh [--build-only]   only make and lint the packages
set -euo pipefail
cd "$(dirname "$0")/.."
build_only=0
[ "${1:-}" != --build-only ] || build_only=1

bash scripts/install-deps.sh
source scripts/build-dirs.sh
jobs=$(nproc 2>/dev/null || echo 2)
sudo=()
if [ $build_only = 0 ] && [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "check-packages: installing the package needs root: run as root or install sudo" >&2; exit 1; }
  sudo=(sudo)
fi
step() { echo "check-packages: $*"; }
fail() { echo "check-packages: FAILED: $*" >&2; exit 1; }

step "building the Debian package (build-pkg)"
configure_package >/dev/null
cmake --build build-pkg -j "$jobs"
rm -rf build-pkg/packages
(cd build-pkg && cpack)
version=$(sed -n 's/^#define VELKOR_VERSION_TEXT "\(.*\)"$/\1/p' build-pkg/generated/velkor_version.h)
deb=build-pkg/packages/velkor_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb"

step "building the Windows zip (build-win)"
configure_windows >/dev/null
cmake --build build-win -j "$jobs"
rm -rf build-win/packages
(cd build-win && cpack)
zip=build-win/packages/velkor-$version-win64.zip
[ -f "$zip" ] || fail "no $zip"

step "lintian $deb"
# Warnings are printed; the ones left are explained in cmake/Packaging.cmake.
lintian --fail-on error "$deb" || fail "lintian found errors"
if [ $build_only = 1 ]; then
  step "made $deb $zip"
  exit 0
fi

step "installing $deb"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), project $version"
# Slim images keep dpkg from unpacking manual pages (path-exclude in
# /etc/dpkg/dpkg.cfg.d/); ours is let through so it can be checked.
since=$(mktemp)
"${sudo[@]}" dpkg --path-include='/usr/share/man/man1/velkor.1.gz' -i "$deb" ||
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -f install -y -q
dpkg-query -W -f='${Status}' velkor | grep -q "install ok installed" || fail "velkor is not installed"
mapfile -t files < <(dpkg -L velkor | while read -r f; do [ -d "$f" ] || echo "$f"; done)

step "checking the installed files"
# From a folder of its own with the build folders off the PATH: only what
# the package installed can answer.
checks=$(mktemp -d)
(
  cd "$checks"
  export PATH=/usr/sbin:/usr/bin:/sbin:/bin
  [ "$(command -v velkor)" = /usr/bin/velkor ] || fail "velkor is not /usr/bin/velkor"
  for program in $(find "$OLDPWD/build-pkg" -name 'velkor-virtual-board' -type f -perm -u+x -printf '%f\n'); do
    [ -x "/usr/bin/$program" ] || fail "the build made $program, the package did not install it"
  done
  [ "$(velkor --version)" = "velkor $version" ] || fail "velkor --version says \"$(velkor --version)\", the project is $version"
  velkor --sim demo program /usr/share/doc/velkor/examples/demo.enc >program.log 2>&1 ||
    { cat program.log; fail "velkor program on the demo board"; }
  grep -qx "Update complete!" program.log || { cat program.log; fail "no \"Update complete!\""; }
  velkor --sim /usr/share/doc/velkor/examples/scenarios/erase-fails.json detect >/dev/null ||
    fail "the installed scenarios do not load"
  [ "$(man -w velkor)" = /usr/share/man/man1/velkor.1.gz ] || fail "man -w velkor: $(man -w velkor 2>&1)"
  MANWIDTH=80 man velkor >man.txt 2>&1
  # Every command and option velkor's own help knows has an entry of its
  # own in the manual page.
  for word in $( (velkor --help; for c in detect program inspect shots pressure; do velkor $c --help; done) |
                 awk '/^(Options|Subcommands):/ { on = 1; next } /^$/ { on = 0 } on { print $1 }' |
                 tr , '\n' | sort -u); do
    grep -qE -- "^ {7}([^ ]+, )?$word( |,|\$)" man.txt || fail "the manual page has no entry for $word"
  done
  grep -q "^EXIT STATUS" man.txt || fail "the manual page has no EXIT STATUS"
  bash -c 'source /usr/share/bash-completion/completions/velkor
           complete -p velkor >/dev/null || exit 1
           COMP_WORDS=(velkor --sim demo pro); COMP_CWORD=3; _velkor
           [ "${COMPREPLY[*]}" = program ]' || fail "the completion does not complete \"pro\" to \"program\""
  cmp -s /usr/lib/udev/rules.d/70-velkor.rules "$OLDPWD/packaging/udev/70-velkor.rules" ||
    fail "the udev rule is not in /usr/lib/udev/rules.d"
)
rm -rf "$checks"

step "removing the package"
"${sudo[@]}" dpkg -r velkor
left=()
for f in "${files[@]}"; do [ ! -e "$f" ] || left+=("$f"); done
[ -e /usr/share/doc/velkor ] && left+=(/usr/share/doc/velkor)
# Nor anything its scripts made.
mapfile -t -O ${#left[@]} left < <(find /usr /etc /var/lib /opt -newer "$since" -path '*velkor*' \
  ! -path '/var/lib/dpkg/*' 2>/dev/null)
rm -f "$since"
[ ${#left[@]} -eq 0 ] || fail "dpkg -r velkor left: ${left[*]}"
# Its maintainer scripts too, which dpkg keeps until a purge.
"${sudo[@]}" dpkg --purge velkor >/dev/null

step "starting VelkorUpdateSim.exe from the unpacked zip in a fresh Wine prefix"
unpacked=build-win/zip-check
rm -rf "$unpacked"
mkdir -p "$unpacked"
unzip -q "$zip" -d "$unpacked/app"
folder="$unpacked/app/velkor-$version-win64"
for f in VelkorUpdate.exe VelkorUpdateSim.exe velkor.exe README.txt examples/demo.enc examples/scenarios/demo.json; do
  [ -f "$folder/$f" ] || fail "the zip has no $f"
done
strings -el "$folder/VelkorUpdate.exe" | grep -qx "$version" || fail "VelkorUpdate.exe's version resource does not say $version"
shot="$PWD/$unpacked/velkor-from-zip.png"
# The demo board, plus a dump of its state on every close: the program's
# detection, which opens and closes the board every second, leaves it.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  source scripts/wine-desktop.sh
  prefix="$PWD/$1/wineprefix" exe="$PWD/$2/VelkorUpdateSim.exe"
  prepare_wine
  dump=$(winepath -w "$PWD/$1/board-dump.json" 2>/dev/null | sed "s/\\\\/\\\\\\\\/g")
  printf "{\"dump\": \"%s\"}\n" "$dump" >"$1/demo-dump.json"
  start_program "$PWD/$1/demo-dump.json"
  screenshot "$3"
  stop_program' zip-window "$unpacked" "$folder" "$shot" || fail "VelkorUpdateSim.exe did not start from the zip"
[ -s "$unpacked/board-dump.json" ] || fail "VelkorUpdateSim.exe from the zip never opened the demo board"
win_version=$(env -u DISPLAY bash scripts/wine-run.sh "$unpacked/wineprefix" "$folder/velkor.exe" --version)
[ "$win_version" = "velkor $version" ] || fail "velkor.exe from the zip says \"$win_version\", the project is $version"
step "screenshot of the program from the zip: $shot"
step "all checks passed: $deb $zip"
