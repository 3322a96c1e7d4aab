# Helpers for showing VelkorUpdateSim.exe under Wine in a virtual desktop,
# sourced by run-window.sh and screenshots.sh. Expects the current folder to
# be the top of the repository.

build=build-win
prefix="$PWD/$build/wineprefix"
exe="$build/bin/VelkorUpdateSim.exe"
desktop_size=800x600

# Installs what is missing and builds the simulated-board program.
build_sim_program() {
  bash scripts/install-deps.sh
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target VelkorUpdateSim velkor
}

# Prepares the prefix (as the tests do) and ends any Wine still running in it,
# which may belong to another display.
prepare_wine() {
  export WINEPREFIX="$prefix" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
  wineserver -k 2>/dev/null || true
  # Booting a new prefix takes a while and Wine says nothing meanwhile.
  [ -d "$prefix/drive_c" ] || echo "Setting up Wine in $prefix (the first time only; about a minute)"
  bash scripts/wine-run.sh "$prefix" cmd /c exit
}

# Starts the program in a virtual desktop window of its own, with the
# scenario file $1 (empty: the demo board).
start_program() {
  if [ -n "$1" ]; then
    export VELKOR_SIM="$(winepath -w "$1" 2>/dev/null)"
  else
    unset VELKOR_SIM
  fi
  wine explorer "/desktop=velkor,$desktop_size" "$exe" >/dev/null 2>>"$prefix/wine.log" &
  program_pid=$!
  desktop_window=""
  for _ in $(seq 1 100); do
    desktop_window=$(xdotool search --name "velkor - Wine desktop" 2>/dev/null | head -1 || true)
    [ -n "$desktop_window" ] && break
    sleep 0.2
  done
  if [ -z "$desktop_window" ]; then
    echo "the program's desktop window did not appear; see $prefix/wine.log" >&2
    return 1
  fi
  xdotool windowfocus "$desktop_window" 2>/dev/null || true
  # The first start in a new prefix takes a while (Wine builds its font
  # cache): wait until the window is on the desktop, which is one colour until
  # then.
  for _ in $(seq 1 150); do
    colours=$(import -window root -crop 560x320+118+150 +repage -format %k info: 2>/dev/null || echo 0)
    [ "$colours" -gt 20 ] && break
    sleep 0.2
  done
  # The first board report comes within a second.
  sleep 2
}

stop_program() {
  wineserver -k 2>/dev/null || true
  wait "$program_pid" 2>/dev/null || true
}

# Saves the middle of the virtual desktop, where the window is, as $1.
screenshot() {
  import -window root -crop 560x320+118+150 +repage "$1"
}
