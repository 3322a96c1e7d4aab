# A whole update by the command-line program on the simulated board, run as
# a user runs it: exit status 0, and "Update complete!" after the board is
# booted, before the status goes back to idle, then the booted board's word;
# and inspect finds no problem.
#   cmake -P cli_sim_program.cmake [LAUNCHER...] VELKOR FIRMWARE
# The launcher is how a cross-built program runs here (Wine).
# The command is what follows the script's path.
set(command)
set(first 0)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(first GREATER 0 AND NOT i LESS first)
    list(APPEND command "${CMAKE_ARGV${i}}")
  elseif(first EQUAL 0 AND "${CMAKE_ARGV${i}}" STREQUAL "-P")
    math(EXPR first "${i} + 2")
  endif()
endforeach()
list(LENGTH command count)
if(count LESS 2)
  message(FATAL_ERROR "usage: cmake -P cli_sim_program.cmake [LAUNCHER...] VELKOR FIRMWARE")
endif()
list(POP_BACK command firmware)

execute_process(COMMAND ${command} --sim demo program ${firmware}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
# Windows writes CRLF line ends.
string(REPLACE "\r" "" out "${out}")
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "exit status ${status}, expected 0\nstdout:\n${out}\nstderr:\n${err}")
endif()
if(NOT out MATCHES "\nDone\\.\nUpdate complete!\nWait\\.\\.\\.\nBoard now reports: Connected: Ferrit XR, version 3\\.02b\n$")
  message(FATAL_ERROR "the output does not end with Done., Update complete!, Wait..., Board now reports: ...\nstdout:\n${out}\nstderr:\n${err}")
endif()

# The file checker opens the same name the same way.
execute_process(COMMAND ${command} inspect ${firmware} RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status STREQUAL "0" OR NOT out MATCHES "no problems")
  message(FATAL_ERROR "inspect: exit status ${status}, expected 0 and no problems\nstdout:\n${out}")
endif()
