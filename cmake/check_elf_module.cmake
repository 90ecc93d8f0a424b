# Checks the dynamic symbols a native module defines: every REQUIRE name is there as a function,
# and nothing beyond REQUIRE and ALLOW leaks out (symbols are hidden by default; a leak means a
# missing visibility setting or a stray export attribute).
#
#   cmake -DNM=nm -DMODULE=quillmesh_64.8bi "-DREQUIRE=PluginMain,GenericProc" [-DALLOW=...] \
#         -P check_elf_module.cmake
#
# Names are separated by commas (a semicolon would split the test command's argument).
cmake_minimum_required(VERSION 3.25)

foreach(variable NM MODULE REQUIRE)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "check_elf_module: ${variable} is not set")
  endif()
endforeach()

string(REPLACE "," ";" REQUIRE "${REQUIRE}")
string(REPLACE "," ";" ALLOW "${ALLOW}")

execute_process(COMMAND ${NM} -D --defined-only ${MODULE}
  OUTPUT_VARIABLE symbols ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${MODULE}: nm failed: ${errors}")
endif()

set(problems "")
set(functions "")
set(names "")
string(REPLACE "\n" ";" lines "${symbols}")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) (.+)$")
    list(APPEND names "${CMAKE_MATCH_2}")
    if(CMAKE_MATCH_1 STREQUAL "T")
      list(APPEND functions "${CMAKE_MATCH_2}")
    endif()
  endif()
endforeach()

foreach(name IN LISTS REQUIRE)
  if(NOT name IN_LIST functions)
    list(APPEND problems "lacks exported function ${name}")
  endif()
endforeach()
foreach(name IN LISTS names)
  if(NOT name IN_LIST REQUIRE AND NOT name IN_LIST ALLOW)
    list(APPEND problems "unexpected export ${name}")
  endif()
endforeach()

if(problems)
  foreach(problem IN LISTS problems)
    message("${MODULE}: ${problem}")
  endforeach()
  list(LENGTH problems count)
  message(FATAL_ERROR "FAILED: ${count} problem(s)")
endif()
message("${MODULE}: exports ${names}")
