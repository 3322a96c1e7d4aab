# The real HID stacks in a VM (scripts/rig/) as ctest entries labelled "rig",
# in the build folders whose presets turn VELKOR_RIGS on. Each boots a VM and
# checks timing, so each holds the VM and runs alone. The Linux rig and
# the page's (which builds build-web/ too) need this build; the Wine rig this one and the native build's virtual board
# (test.sh builds the native folder first).
option(VELKOR_RIGS "Register the VM rigs (scripts/rig/) as ctest entries" OFF)
if(NOT VELKOR_TESTS OR NOT VELKOR_RIGS OR NOT CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()
if(CMAKE_CROSSCOMPILING AND WIN32)
  set(VELKOR_NATIVE_BUILD_DIR ${PROJECT_SOURCE_DIR}/build CACHE PATH
      "The native build folder whose virtual board the Wine rig uses")
  add_test(NAME rig_wine
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/rig/wine.sh ${VELKOR_NATIVE_BUILD_DIR} ${PROJECT_BINARY_DIR})
  set(velkor_rig rig_wine)
elseif(NOT CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_test(NAME rig_linux_hid
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/rig/linux-hid.sh ${PROJECT_BINARY_DIR})
  # The page through WebHID; it builds the site (build-web/) itself.
  add_test(NAME rig_web
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/rig/web.sh ${PROJECT_BINARY_DIR})
  set(velkor_rig rig_linux_hid rig_web)
else()
  return()
endif()
# Generous: the first run downloads and unpacks the kernel, and QEMU emulates.
set_tests_properties(${velkor_rig} PROPERTIES
  LABELS rig RESOURCE_LOCK vm RUN_SERIAL TRUE TIMEOUT 1800
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
