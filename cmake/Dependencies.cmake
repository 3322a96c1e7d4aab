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

if(CMAKE_CROSSCOMPILING)
  if(NOT EXISTS /usr/include/nlohmann/json.hpp)
    message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev")
  endif()
  velkor_header_only(velkor_json /usr/include/nlohmann)
else()
  find_package(nlohmann_json 3 REQUIRED)
  add_library(velkor_json INTERFACE)
  target_link_libraries(velkor_json INTERFACE nlohmann_json::nlohmann_json)
endif()

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
