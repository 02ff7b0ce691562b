# Builds one probe target of the build tree and checks the outcome.
# -DBUILD_DIR=... -DTARGET=... -DHEADER=... -DEXPECT=fail|ok
# fail: the build must stop because HEADER is not found (and for no other
# reason); ok: the build must succeed.
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD_DIR}" --target "${TARGET}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
string(REGEX MATCH "${HEADER}[':]* (No such file or directory|file not found)" not_found
       "${output}")
if(EXPECT STREQUAL "ok")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TARGET} should compile:\n${output}")
  endif()
  message(STATUS "${TARGET}: ${HEADER} is reachable")
elseif(status EQUAL 0)
  message(FATAL_ERROR "${TARGET} compiled: ${HEADER} is reachable from it")
elseif(NOT not_found)
  message(FATAL_ERROR "${TARGET} failed for another reason than ${HEADER}:\n${output}")
else()
  message(STATUS "${TARGET}: ${HEADER} not found, as it should be")
endif()
