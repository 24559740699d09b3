# Script mode: writes the version header from INPUT to OUTPUT. Arguments: SOURCE_DIR,
# PROJECT_VERSION, INPUT, OUTPUT.

set(TARNWELL_COMMIT "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(
    COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} describe --always --dirty --abbrev=7
    OUTPUT_VARIABLE TARNWELL_COMMIT
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET
    RESULT_VARIABLE described)
  if(NOT described EQUAL 0)
    set(TARNWELL_COMMIT "")
  endif()
endif()

if(TARNWELL_COMMIT STREQUAL "")
  set(TARNWELL_BUILD_VERSION "${PROJECT_VERSION}")
else()
  set(TARNWELL_BUILD_VERSION "${PROJECT_VERSION} (${TARNWELL_COMMIT})")
endif()
configure_file(${INPUT} ${OUTPUT} @ONLY)
