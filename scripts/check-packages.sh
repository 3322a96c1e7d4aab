#!/usr/bin/env bash
# Builds the Debian package, the Windows zip and the web zip, lints the
# package, checks the licenses they carry (the .deb's copyright file is
# machine-readable; the zips' third-party texts are those of the packages
# installed here, and their README.txt names each), installs
# it on this machine and checks what it installed, from the installed files
# only; removes it and checks that nothing is left; then starts the simulated
# board's program from the unpacked zip in a fresh Wine prefix, and the page
# from the unpacked web zip in headless Chromium. Needs root (or sudo) for
# dpkg. The packages stay in build-pkg/packages/, build-win/packages/ and
# build-web/packages/.
#   scripts/check-packages.sh [--build-only]   only make and lint the packages
set -euo pipefail
cd "$(dirname "$0")/.."
build_only=0
[ "${1:-}" != --build-only ] || build_only=1

bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
sudo=()
if [ $build_only = 0 ] && [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "check-packages: installing the package needs root: run as root or install sudo" >&2; exit 1; }
  sudo=(sudo)
fi
step() { echo "check-packages: $*"; }
fail() { echo "check-packages: FAILED: $*" >&2; exit 1; }

step "building the Debian package (build-pkg)"
cmake --preset package >/dev/null
cmake --build --preset package -j "$jobs"
rm -rf build-pkg/packages
(cd build-pkg && cpack)
version=$(sed -n 's/^#define VELKOR_VERSION_TEXT "\(.*\)"$/\1/p' build-pkg/generated/velkor_version.h)
deb=build-pkg/packages/velkor_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb"

step "building the Windows zip (build-win)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
rm -rf build-win/packages
(cd build-win && cpack)
zip=build-win/packages/velkor-$version-win64.zip
[ -f "$zip" ] || fail "no $zip"

step "building the web zip (build-web)"
rm -rf build-web/packages
bash scripts/run-web.sh --build-only >/dev/null
web_zip=build-web/packages/velkor-$version-web.zip
[ -f "$web_zip" ] || fail "no $web_zip"

step "lintian $deb"
lintian --fail-on error,warning "$deb" || fail "lintian found errors or warnings"

step "checking the package's copyright file"
# lintian checks the copyright format only in source packages: this one is
# read here, and its Expat text must be LICENSE's.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/velkor/copyright >build-pkg/copyright.check ||
  fail "the package has no /usr/share/doc/velkor/copyright"
python3 - build-pkg/copyright.check LICENSE <<'EOF' || fail "/usr/share/doc/velkor/copyright is not in the machine-readable format"
import re, sys
text, mit = (open(f, encoding="utf-8").read() for f in sys.argv[1:3])
problems = []
def paragraph(lines, n):
    fields, last = {}, None
    for line in lines.split("\n"):
        if line[:1] in (" ", "\t") and last:
            fields[last].append("" if line.strip() == "." else line[1:].rstrip())
        elif (m := re.fullmatch(r"([!-9;-~]+):(.*)", line)) and m[1].lower() not in fields:
            last = m[1].lower()
            fields[last] = [m[2].strip()]
        else:
            problems.append(f"paragraph {n}: not a field, or a repeated one: {line!r}")
    return fields
paragraphs = [paragraph(p, n + 1) for n, p in enumerate(re.split(r"\n[ \t]*\n", text.strip("\n")))]
header, rest = paragraphs[0], paragraphs[1:]
if header.get("format") != ["https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"]:
    problems.append("the first paragraph has no Format: of copyright-format 1.0")
if not header.get("upstream-name", [""])[0]:
    problems.append("no Upstream-Name:")
texts = {p["license"][0]: p["license"][1:] for p in rest if len(p.get("license", [])) > 1}
files = [p for p in rest if "files" in p]
for p in rest:
    if "files" in p and not (p.get("copyright", [""])[0] and p.get("license", [""])[0]):
        problems.append(f"Files: {p['files'][0]} lacks Copyright: or License:")
    if "files" not in p and "license" not in p:
        problems.append(f"a paragraph with neither Files: nor License: ({', '.join(p)})")
    for name in re.split(r"\s+(?:and|or)\s+", p.get("license", [""])[0]):
        if name and name not in texts:
            problems.append(f"no text for the license {name}")
if not files or files[0]["files"] != ["*"]:
    problems.append("the first Files: paragraph is not Files: *")
elif files[0].get("license", [""])[0] != "Expat" or not mit.startswith("MIT License\n\nCopyright (c) " + files[0].get("copyright", [""])[0] + "\n"):
    problems.append("Files: * is not under LICENSE's license and copyright")
elif texts.get("Expat") != mit.split("\n\n", 2)[2].rstrip("\n").split("\n"):
    problems.append("the Expat text is not LICENSE's")
for problem in problems:
    print("copyright:", problem, file=sys.stderr)
sys.exit(1 if problems else 0)
EOF

step "checking the licenses in $zip"
# The copies in packaging/windows/licenses/ and where they came from: the
# runtime, libstdc++ and libgcc are linked in statically, CLI11 and
# nlohmann-json are compiled in.
declare -A license_from=(
  [mingw-w64.txt]=/usr/share/doc/mingw-w64-common/copyright
  [gcc.txt]=/usr/share/doc/gcc-mingw-w64-base/copyright
  [GCC-exception-3.1.txt]=/usr/share/doc/gcc-mingw-w64-base/copyright
  [GPL-3.txt]=/usr/share/common-licenses/GPL-3
  [CLI11.txt]=/usr/share/doc/libcli11-dev/copyright
  [nlohmann-json.txt]=/usr/share/doc/nlohmann-json3-dev/copyright
)
license_text() {
  if [ "$1" = GCC-exception-3.1.txt ]; then
    sed -n '/^GCC RUNTIME LIBRARY EXCEPTION$/,/^requirements of the license of GCC\.$/p' "${license_from[$1]}"
  else
    cat "${license_from[$1]}"
  fi
}
top=velkor-$version-win64
# The zip's texts are for Notepad, CRLF on every line: $1 from the zip, with
# that checked and the CRs taken out, into build-win/zip-text.
zip_text() {
  unzip -p "$zip" "$top/$1" >build-win/zip-text.crlf 2>/dev/null && [ -s build-win/zip-text.crlf ] ||
    fail "the zip has no $1"
  ! grep -qv $'\r$' build-win/zip-text.crlf || fail "$1 in the zip has lines without CRLF"
  tr -d '\r' <build-win/zip-text.crlf >build-win/zip-text
}
zip_text LICENSE.txt
cmp -s build-win/zip-text LICENSE || fail "LICENSE.txt in the zip is not LICENSE"
zip_text README.txt
mv build-win/zip-text build-win/zip-readme
grep -qF "LICENSE.txt" build-win/zip-readme || fail "README.txt does not name LICENSE.txt"
mapfile -t in_zip < <(unzip -Z1 "$zip" | sed -n "s|^$top/licenses/\([^/][^/]*\)\$|\1|p")
for name in "${!license_from[@]}"; do
  printf '%s\n' "${in_zip[@]}" | grep -qxF "$name" || fail "the zip has no licenses/$name"
done
for name in "${in_zip[@]}"; do
  [ -n "${license_from[$name]:-}" ] || fail "licenses/$name in the zip: this script does not know where it comes from"
  zip_text "licenses/$name"
  license_text "$name" | cmp -s build-win/zip-text - ||
    fail "licenses/$name in the zip is not the text in ${license_from[$name]}: copy that into packaging/windows/licenses/$name"
  grep -qF "$name" build-win/zip-readme || fail "README.txt does not name licenses/$name"
done
rm -f build-pkg/copyright.check build-win/zip-text.crlf build-win/zip-text build-win/zip-readme

step "checking $web_zip"
web_unpacked=build-web/zip-check
web_folder=$web_unpacked/velkor-$version-web
rm -rf "$web_unpacked"
unzip -q "$web_zip" -d "$web_unpacked"
[ "$(ls "$web_unpacked")" = "${web_folder##*/}" ] || fail "the web zip holds more than ${web_folder##*/}/"
for f in index.html style.css velkor.js velkor-core.js velkor-core.wasm manifest.webmanifest icon-192.png icon-512.png sw.js README.txt; do
  [ -s "$web_folder/$f" ] || fail "the web zip has no $f"
done
cmp -s "$web_folder/LICENSE.txt" LICENSE || fail "LICENSE.txt in the web zip is not LICENSE"
# The worker keeps exactly the site: every file but itself and the texts.
cached=$(sed -n "s/^const FILES = '\.\/,\([^']*\)'.*/\1/p" "$web_folder/sw.js" | tr , '\n' | sort)
site_files=$(cd "$web_folder" && ls -p | grep -vxE 'sw\.js|LICENSE\.txt|README\.txt|licenses/' | sort)
[ -n "$cached" ] && [ "$cached" = "$site_files" ] ||
  fail "sw.js in the web zip keeps [$(echo $cached)], the site is [$(echo $site_files)]"
web_licenses=("$web_folder"/licenses/*)
[ -e "${web_licenses[0]}" ] || fail "the web zip has no licenses/"
for text in "${web_licenses[@]}"; do
  [ -s "$text" ] || fail "licenses/${text##*/} in the web zip is empty"
  grep -qF "${text##*/}" "$web_folder/README.txt" || fail "the web zip's README.txt does not name licenses/${text##*/}"
done
if [ $build_only = 1 ]; then
  step "made $deb $zip $web_zip"
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
bash scripts/wine-display.sh "$unpacked/wineprefix" bash -c '
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
step "opening ?demo from the unpacked web zip in headless Chromium"
bash scripts/install-deps.sh --only chromium $(command -v npm >/dev/null || echo npm)
[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund
web_status=$(node scripts/check-web-site.mjs "$web_folder" 2>"$web_unpacked/browser.log") ||
  { cat "$web_unpacked/browser.log" >&2; fail "the page from the web zip never showed the demo board"; }
step "the page from the web zip: $web_status"
step "all checks passed: $deb $zip $web_zip"
