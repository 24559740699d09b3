# The build's version, in one generated header of the platform layer (platform/BuildVersion.h):
# the project version, and the commit when built from a git checkout. The header is rewritten at
# every build but only touched when the text changes, so a new commit rebuilds the few files that
# show the version and nothing else. Without git (a source tarball) the project version alone.

set(TARNWELL_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
set(TARNWELL_VERSION_HEADER ${TARNWELL_GENERATED_DIR}/platform/BuildVersion.h)
set(TARNWELL_VERSION_ARGS
  -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
  -DPROJECT_VERSION=${PROJECT_VERSION}
  -DINPUT=${PROJECT_SOURCE_DIR}/src/platform/BuildVersion.h.in
  -DOUTPUT=${TARNWELL_VERSION_HEADER}
  -P ${CMAKE_CURRENT_LIST_DIR}/WriteVersion.cmake)

# Once now, so the header exists from the first configure on; then at every build.
execute_process(COMMAND ${CMAKE_COMMAND} ${TARNWELL_VERSION_ARGS})
add_custom_target(tarnwell_version
  COMMAND ${CMAKE_COMMAND} ${TARNWELL_VERSION_ARGS}
  BYPRODUCTS ${TARNWELL_VERSION_HEADER}
  VERBATIM)
add_dependencies(tarnwell_platform tarnwell_version)
target_include_directories(tarnwell_platform PUBLIC ${TARNWELL_GENERATED_DIR})
