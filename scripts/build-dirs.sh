# The build folders the scripts share, each always configured with the same
# options, so one script never makes another reconfigure or rebuild. Sourced
# from the top of the repository; extra arguments go to cmake.

# build/: the native build and its tests.
configure_native() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKOR_WERROR=ON "$@"
}

# build-win/: the Windows programs, cross-built with MinGW-w64. CMake reads the
# toolchain file only when it creates the folder and warns about it on any
# later run, so it is given only then.
configure_windows() {
  local toolchain=()
  [ -f build-win/CMakeCache.txt ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
  cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELKOR_WERROR=ON "${toolchain[@]}" "$@"
}

# build-pkg/: what the Debian package is made from; installed under /usr, so
# the manual page names the paths the package uses. No tests: build/ has them.
configure_package() {
  cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELKOR_WERROR=ON \
    -DVELKOR_TESTS=OFF -DVELKOR_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr "$@"
}
