# What `cmake --install` puts where, and the packages CPack makes of it: a
# .deb on Linux, a .zip of the Windows programs.
include(GNUInstallDirs)

set(VELKOR_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/velkor)
set(VELKOR_EXAMPLES
  ${PROJECT_SOURCE_DIR}/examples/demo.enc
  ${PROJECT_SOURCE_DIR}/examples/demo.fw)
set(VELKOR_MAINTAINER "Velkor Update Utility developers <velkor-dev@lists.velkor.invalid>")

if(WIN32)
  # The zip: programs at the top, examples beside them, text files with
  # Windows line ends so Notepad shows them as written.
  install(TARGETS VelkorUpdate VelkorUpdateSim velkor RUNTIME DESTINATION .)
  install(FILES ${VELKOR_EXAMPLES} DESTINATION examples)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/scenarios DESTINATION examples)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
                ${PROJECT_SOURCE_DIR}/docs/scenario.md DESTINATION .)
  # The licenses of what is built into the programs besides our own code:
  # the MinGW-w64 runtime, GCC's libstdc++ and libgcc (linked statically),
  # CLI11 and nlohmann-json (header-only). Copies of the Debian packages'
  # texts, kept in the repository so a build on Windows ships the same;
  # scripts/check-packages.sh holds them to the packages installed here.
  file(GLOB licenses RELATIVE ${PROJECT_SOURCE_DIR}/packaging/windows/licenses
       ${PROJECT_SOURCE_DIR}/packaging/windows/licenses/*.txt)
  foreach(text ${licenses})
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/licenses/${text} licenses/${text} @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/licenses/${text} DESTINATION licenses)
  endforeach()

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME velkor-${VELKOR_VERSION_TEXT}-win64)
else()
  install(TARGETS velkor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET velkor-virtual-board)
    install(TARGETS velkor-virtual-board RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  # lib/, not CMAKE_INSTALL_LIBDIR: udev looks in (/usr)/lib/udev/rules.d
  # whatever the architecture. macOS has no udev and needs no rule.
  set(VELKOR_UDEV_DIR lib/udev/rules.d)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/70-velkor.rules DESTINATION ${VELKOR_UDEV_DIR})
  endif()

  # Manual page and changelog go in gzipped, as Debian wants them; -n keeps
  # the package the same from one build to the next.
  set(VELKOR_DOC_FULL_DIR ${CMAKE_INSTALL_FULL_DATAROOTDIR}/doc/velkor)
  set(VELKOR_UDEV_FULL_DIR ${CMAKE_INSTALL_PREFIX}/${VELKOR_UDEV_DIR})
  # Every page in packaging/man/ is installed: a program added to bin/ brings
  # its page there (and re-runs cmake; no CONFIGURE_DEPENDS, whose check
  # would run on every build).
  file(GLOB man_pages RELATIVE ${PROJECT_SOURCE_DIR}/packaging/man ${PROJECT_SOURCE_DIR}/packaging/man/*.1.in)
  set(man_gz)
  foreach(page ${man_pages})
    string(REGEX REPLACE "\\.in$" "" page ${page})
    configure_file(${PROJECT_SOURCE_DIR}/packaging/man/${page}.in packaging/${page} @ONLY)
    list(APPEND man_gz ${CMAKE_CURRENT_BINARY_DIR}/packaging/${page}.gz)
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/deb/changelog.in packaging/changelog @ONLY)
  set(gzipped)
  foreach(name ${man_pages} changelog)
    string(REGEX REPLACE "\\.in$" "" name ${name})
    add_custom_command(OUTPUT packaging/${name}.gz
      COMMAND gzip -9nc ${name} > ${name}.gz
      DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/${name}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packaging)
    list(APPEND gzipped ${CMAKE_CURRENT_BINARY_DIR}/packaging/${name}.gz)
  endforeach()
  add_custom_target(velkor_packaging_files ALL DEPENDS ${gzipped})
  install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz
                ${PROJECT_SOURCE_DIR}/packaging/deb/copyright
          DESTINATION ${VELKOR_DOC_DIR})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/velkor.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME velkor)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/cli.md ${PROJECT_SOURCE_DIR}/docs/scenario.md
                ${PROJECT_SOURCE_DIR}/docs/linux-access.md ${PROJECT_SOURCE_DIR}/docs/virtual-board.md
          DESTINATION ${VELKOR_DOC_DIR})
  install(FILES ${VELKOR_EXAMPLES} DESTINATION ${VELKOR_DOC_DIR}/examples)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/scenarios DESTINATION ${VELKOR_DOC_DIR}/examples)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELKOR_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/deb/postinst
    ${PROJECT_SOURCE_DIR}/packaging/deb/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
# Debian wants no debugging sections in what it installs, and the zip is
# smaller without symbols.
set(CPACK_STRIP_FILES ON)

set(CPACK_PACKAGE_NAME velkor)
set(CPACK_PACKAGE_VENDOR "Velkor")
set(CPACK_PACKAGE_VERSION ${VELKOR_VERSION_TEXT})
set(CPACK_PACKAGE_CONTACT "${VELKOR_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Velkor marker control boards")
set(CPACK_PACKAGE_DESCRIPTION "\
velkor detects a Velkor marker's control board on USB (HID, 04d8:fc31),
programs firmware files (*.enc) into it and, behind the service password,
reads and sets the shot counter and shows raw pressure values. It can also
check a firmware file without a board, and runs against a simulated board
for trying things out.
.
The package installs a udev rule that lets the user logged in at the
machine open the board without root.")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
include(CPack)
