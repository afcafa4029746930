# cmake -DLIBRARY=<libTarnwick.so> -DNM=<nm> -P check_exports.cmake
# Fails unless the dynamic symbol table defines exactly the five exports.
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE table RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not read ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${table}")
set(exported)
foreach(line ${lines})
  string(REGEX MATCH "^([^ ]+) ([A-Za-z])" _ "${line}")
  set(name ${CMAKE_MATCH_1})
  set(type ${CMAKE_MATCH_2})
  # Code and data symbols of any binding; the linker's absolute markers are not exports.
  if(NOT type STREQUAL "A")
    list(APPEND exported ${name})
  endif()
endforeach()
list(SORT exported)
set(expected Clear GetData GetMftMessage GetPointer LoadMft)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports '${exported}', expected exactly '${expected}'")
endif()
message(STATUS "exports: ${exported}")
