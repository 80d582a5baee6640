# Compares the dynamic symbols a module defines (nm -D --defined-only) with an
# expected list: one symbol name per line; "#" starts a comment.
#   cmake -DNM=nm -DMODULE=lib.so -DEXPECTED=list -P CheckExports.cmake
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${MODULE}
  OUTPUT_VARIABLE listing ERROR_VARIABLE error RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${MODULE}: ${error}")
endif()

set(actual)
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ ]+) ")
    list(APPEND actual "${CMAKE_MATCH_1}")
  endif()
endforeach()

set(expected)
file(STRINGS ${EXPECTED} lines)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "#.*" "" line "${line}")
  string(STRIP "${line}" line)
  if(NOT line STREQUAL "")
    list(APPEND expected "${line}")
  endif()
endforeach()

set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
list(LENGTH actual count)
if(extra OR missing)
  list(JOIN extra "\n  " extra)
  list(JOIN missing "\n  " missing)
  message(FATAL_ERROR "${MODULE} exports other symbols than ${EXPECTED}\n"
                      "exported but not expected:\n  ${extra}\n"
                      "expected but not exported:\n  ${missing}")
endif()
message(STATUS "${MODULE}: the ${count} exported symbols are the expected ones")
