#!/usr/bin/env bash
# The Wine rig: the Windows build's programs, with their Win32 HID backend
# unchanged, against the virtual board through Wine's HID stack, in a VM on
# Debian's own kernel (scripts/rig/vm.sh). Results and the window's
# screenshot (rig/window.png) go into the Windows build folder.
#   scripts/rig/wine.sh [NATIVE-BUILD [WINDOWS-BUILD]]    (default build, build-win)
set -euo pipefail
cd "$(dirname "$0")/../.."
native=$(realpath "${1:-build}")
win=$(realpath "${2:-build-win}")
prefix=$win/wineprefix-rig
# The prefix is set up on displays of its own; one from outside (ctest under
# scripts/wine-display.sh) would keep Wine's desktop, and the wait below, going.
unset DISPLAY

cmake --build "$native" --target velkor-virtual-board
cmake --build "$win" --target velkor VelkorUpdate drive_update

# The prefix is made here, once, where Wine starts quickly; the guest uses it
# as it is. Bump the marker's number when the steps change.
if [ ! -f "$prefix/.velkor-rig-1" ]; then
  export WINEPREFIX=$prefix WINEDEBUG=-all
  bash scripts/wine-run.sh "$prefix" cmd /c exit
  bash scripts/wine-display.sh "$prefix" bash -c '
    # Wine 8 starts only its SDL bus unless told otherwise, and without SDL
    # no HID device reaches a Windows program.
    wine reg add "HKLM\System\CurrentControlSet\Services\winebus" /v "Enable SDL" /t REG_DWORD /d 0 /f
    # Every program on one virtual desktop, caption and menu bar drawn.
    wine reg add "HKCU\Software\Wine\Explorer" /v Desktop /d rig /f
    wine reg add "HKCU\Software\Wine\Explorer\Desktops" /v rig /d 800x600 /f
    wineserver -w' >>"$prefix/wine.log" 2>&1
  touch "$prefix/.velkor-rig-1"
fi

rc=0
VM_TIMEOUT=${VM_TIMEOUT:-420} bash scripts/rig/vm.sh scripts/rig/wine-guest.sh "$native" "$win" "$prefix" || rc=$?
exit $rc
