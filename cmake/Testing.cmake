# Every test carries one label, so one ctest call per build folder runs what
# is asked for: "unit" for the native tests, "wine" for the cross build's
# (they run under Wine), "rig" for the real HID stacks in a VM
# (cmake/Rigs.cmake). Set per test: ctest gives a folder's LABELS only to
# the tests that run in that folder.
if(CMAKE_CROSSCOMPILING)
  set(VELKOR_TEST_LABEL wine)
else()
  set(VELKOR_TEST_LABEL unit)
endif()

# Labels the tests the calling folder has registered so far; each folder
# that registers tests calls it last.
function(velkor_label_tests)
  get_property(tests DIRECTORY PROPERTY TESTS)
  if(tests)
    set_tests_properties(${tests} PROPERTIES LABELS ${VELKOR_TEST_LABEL})
  endif()
endfunction()
