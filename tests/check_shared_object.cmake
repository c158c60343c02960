# Checks the built shared object: it defines exactly the expected exported
# functions, needs no C++ runtime, and imports no C++ symbol.
#   cmake -DLIBRARY=... -DNM=... -DREADELF=... -DEXPECTED=... -P check_shared_object.cmake
foreach(var LIBRARY NM READELF EXPECTED)
  if(NOT ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE defined RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${defined}")
set(actual "")
foreach(line ${lines})
  # "<address> <type> <name>"
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^ @]+)")
    list(APPEND actual ${CMAKE_MATCH_2})
  endif()
endforeach()
list(SORT actual)
file(STRINGS ${EXPECTED} expected)
list(SORT expected)
if(NOT actual STREQUAL expected)
  set(extra ${actual})
  list(REMOVE_ITEM extra ${expected})
  set(missing ${expected})
  list(REMOVE_ITEM missing ${actual})
  message(FATAL_ERROR "exported symbols differ\n  unexpected: ${extra}\n  missing: ${missing}")
endif()
list(LENGTH actual count)
message(STATUS "exports: ${count} symbols, as expected")

execute_process(COMMAND ${READELF} -d ${LIBRARY} OUTPUT_VARIABLE dynamic)
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[([^]]+)\\]" needed_lines "${dynamic}")
foreach(line ${needed_lines})
  string(REGEX REPLACE ".*\\[([^]]+)\\].*" "\\1" lib "${line}")
  if(NOT lib MATCHES "^(libc|libm|libpthread|ld-linux[-a-z0-9_]*)\\.so")
    message(FATAL_ERROR "unexpected run-time dependency: ${lib}")
  endif()
  message(STATUS "needed: ${lib}")
endforeach()

# __cxa_finalize is the C library's hook that every shared object's start-up
# code imports weakly; anything else of the C++ ABI means the runtime leaked in.
execute_process(COMMAND ${NM} -D --undefined-only ${LIBRARY} OUTPUT_VARIABLE undefined)
string(REGEX REPLACE "[^\n]*__cxa_finalize[^\n]*" "" undefined "${undefined}")
if(undefined MATCHES "(^|[ \n])(_Z[^\n]*|__cxa_[^\n]*|__gxx_[^\n]*)")
  message(FATAL_ERROR "imports a C++ runtime symbol: ${CMAKE_MATCH_2}")
endif()
