# Third-party pieces, all from Debian packages. A cross build cannot take host
# include directories wholesale (they would shadow the target's C library), so
# header-only libraries are reached through a folder that holds only them.
find_package(Threads REQUIRED)

function(velkor_header_only target header_dir)
  set(shim ${CMAKE_BINARY_DIR}/third_party/${target})
  get_filename_component(name ${header_dir} NAME)
  if(NOT EXISTS ${shim}/${name})
    file(MAKE_DIRECTORY ${shim})
    file(CREATE_LINK ${header_dir} ${shim}/${name} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${shim})
endfunction()

# A header-only library from its Debian package (DEB): natively through the
# package's CMake config (the arguments after IMPORTED, which names the target
# it gives, go to find_package); cross, through the folder holding HEADER.
function(velkor_header_library target header deb imported)
  if(CMAKE_CROSSCOMPILING)
    if(NOT EXISTS /usr/include/${header})
      message(FATAL_ERROR "${header} not found: install ${deb}")
    endif()
    get_filename_component(header_dir /usr/include/${header} DIRECTORY)
    velkor_header_only(${target} ${header_dir})
  else()
    find_package(${ARGN} REQUIRED)
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE ${imported})
  endif()
endfunction()

velkor_header_library(velkor_json nlohmann/json.hpp nlohmann-json3-dev nlohmann_json::nlohmann_json nlohmann_json 3)
velkor_header_library(velkor_cli11 CLI/CLI.hpp libcli11-dev CLI11::CLI11 CLI11)

if(VELKOR_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # Debian ships GoogleTest as source; build it with the cross compiler.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
