#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of its own:
#   scripts/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# CMake uses it as the cross build's test emulator, with PREFIX inside the
# build folder. The first run boots the prefix, under a lock so parallel tests
# don't race. Without a display the run goes under Xvfb.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX PROGRAM [ARGS...]" >&2
  exit 2
fi

prefix=$(realpath -m "$1")
shift

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
# Wine names Unix files in the locale's character set; in plain ASCII ("C")
# no file name outside it can be made or opened.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8

# A Wine process started without a display leaves the prefix's desktop without
# one for good, so a headless run gets a server of its own, and Wine is ended
# with it.
if [ -z "${DISPLAY:-}" ]; then
  exec bash "$(dirname "$0")/wine-display.sh" "$prefix" "$0" "$prefix" "$@"
fi

mkdir -p "$prefix"
log="$prefix/wine.log"

# Wine's own processes must not inherit the lock (fd 9): they outlive us.
(
  flock 9
  # Bump the marker's number when the steps below change.
  if [ ! -f "$prefix/.velkor-setup-2" ]; then
    wineboot -i >>"$log" 2>&1 9>&-
    # Wine 8 as packaged does not find its own fonts.
    fonts="$prefix/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    cp -n /usr/share/wine/fonts/*.ttf "$fonts"/ 2>/dev/null
    # Without a window manager, Wine waits 2 s on every hide or destroy of a
    # managed window.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$log" 2>&1 9>&-
    # Windows shows "MS Shell Dlg" in Microsoft Sans Serif; Wine takes Tahoma,
    # whose wider letters wrap the dialogs' labels. MS Sans Serif has the
    # metrics the layouts were made for.
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v 'MS Shell Dlg' /d 'MS Sans Serif' /f >>"$log" 2>&1 9>&-
    touch "$prefix/.velkor-setup-2"
  fi
  # Wine starts its services and the desktop with the first program that
  # needs them, and they inherit that program's output: ctest would then wait
  # for them to end after every test. Started here, they hold nothing.
  if ! wineserver -k0 2>/dev/null; then
    setsid wine cmd /c exit </dev/null >>"$log" 2>&1 9>&-
    setsid wine explorer.exe /desktop </dev/null >>"$log" 2>&1 9>&- &
  fi
) 9>"$prefix.lock"

# Wine writes its own diagnostics to stderr; the program's output is on stdout.
wine "$@" 2>>"$log" | tr -d '\r'
exit "${PIPESTATUS[0]}"
