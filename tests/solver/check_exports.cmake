# The module must export exactly the add-in's entry points and nothing else, and must
# leave the callback entry for the loading program to provide.
set(expected About CheckInstance Options RunTests Solve Test xlAddInManagerInfo xlAutoAdd
    xlAutoClose xlAutoFree xlAutoOpen xlAutoRemove)

execute_process(COMMAND nm -D --defined-only ${MODULE}
                OUTPUT_VARIABLE defined RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REPLACE "\n" ";" lines "${defined}")
set(exported)
foreach(line ${lines})
  if(line MATCHES "^[0-9a-fA-F]* +([A-Za-z]) +([^ ]+)$")
    # Version-definition entries (type A) name the version node, not code.
    if(NOT CMAKE_MATCH_1 STREQUAL "A")
      list(APPEND exported ${CMAKE_MATCH_2})
    endif()
  endif()
endforeach()
list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exported: ${exported}\nexpected: ${expected}")
endif()

execute_process(COMMAND nm -D --undefined-only ${MODULE} OUTPUT_VARIABLE undefined)
if(NOT undefined MATCHES "U Excel4v\n")
  message(FATAL_ERROR "Excel4v is not left for the loading program:\n${undefined}")
endif()
message(STATUS "exports: ${exported}")
