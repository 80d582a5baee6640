# Compares the symbols a module exports with an expected list: one symbol
# name per line; "#" starts a comment. An ELF module's are its defined
# dynamic symbols (nm -D --defined-only), a Windows DLL's the names in its
# export table (objdump -p).
#   cmake -DNM=nm -DMODULE=lib.so -DEXPECTED=list -P CheckExports.cmake
#   cmake -DOBJDUMP=objdump -DMODULE=lib.dll -DEXPECTED=list -P CheckExports.cmake
set(actual)
if(DEFINED OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -p ${MODULE}
    OUTPUT_VARIABLE listing ERROR_VARIABLE error RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} failed on ${MODULE}: ${error}")
  endif()
  # The name table: "[Ordinal/Name Pointer] Table", then "\t[   n] name".
  string(REGEX REPLACE ".*\\[Ordinal/Name Pointer\\] Table[^\n]*\n" "" names "${listing}")
  string(REPLACE "\n" ";" lines "${names}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] ([^ ]+)$")
      list(APPEND actual "${CMAKE_MATCH_1}")
    elseif(NOT line STREQUAL "")
      break()
    endif()
  endforeach()
else()
  execute_process(COMMAND ${NM} -D --defined-only --format=posix ${MODULE}
    OUTPUT_VARIABLE listing ERROR_VARIABLE error RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${MODULE}: ${error}")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^([^ ]+) ")
      list(APPEND actual "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endif()

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
