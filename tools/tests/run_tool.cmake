# Runs TOOL with the list ARGS and checks its exit status (EXPECT_STATUS) and that its standard
# output and error together match the regular expression EXPECT_OUTPUT. With STDOUT_FILE the
# standard output goes to that file (/dev/full) and only the standard error is matched.
if(DEFINED STDOUT_FILE)
  execute_process(COMMAND ${TOOL} ${ARGS}
                  RESULT_VARIABLE status
                  OUTPUT_FILE ${STDOUT_FILE}
                  ERROR_VARIABLE output)
else()
  execute_process(COMMAND ${TOOL} ${ARGS}
                  RESULT_VARIABLE status
                  OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
endif()
if(NOT status STREQUAL EXPECT_STATUS)
  message(FATAL_ERROR "expected exit status ${EXPECT_STATUS}, got ${status}; output:\n${output}")
endif()
string(REGEX REPLACE "\n" " " flat "${output}")
if(NOT flat MATCHES "${EXPECT_OUTPUT}")
  message(FATAL_ERROR "output does not match '${EXPECT_OUTPUT}':\n${output}")
endif()
message(STATUS "exit status ${status}; output:\n${output}")
