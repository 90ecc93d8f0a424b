# Runs GENERATOR into a fresh OUTPUT folder and compares each of FILES there with the file of
# the same name in COMMITTED.
file(REMOVE_RECURSE ${OUTPUT})
execute_process(COMMAND ${GENERATOR} ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} failed with status ${status}")
endif()
set(differing "")
foreach(name IN LISTS FILES)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT}/${name} ${COMMITTED}/${name}
                  RESULT_VARIABLE different)
  if(NOT different EQUAL 0)
    list(APPEND differing ${name})
  endif()
endforeach()
if(differing)
  message(FATAL_ERROR "generated files differ from the committed ones: ${differing} "
                      "(compare ${OUTPUT} with ${COMMITTED})")
endif()
