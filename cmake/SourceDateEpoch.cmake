# Read by cpack when it builds the package (CPACK_PROJECT_CONFIG_FILE).
# Unless SOURCE_DATE_EPOCH is set, CPack stamps each member of the .deb and
# each file in it with the time it runs, and two builds of the same sources
# differ. So where the caller has not chosen a time, take that of the last
# commit or, outside a git checkout, the date of the changelog's newest
# entry, as Debian's own tools do. Done at package time, so that a new
# commit counts without configuring again.
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(epoch "")
  if(EXISTS "${CPACK_VORMEL_SOURCE_DIR}/.git")
    execute_process(COMMAND git log -1 --format=%ct
      WORKING_DIRECTORY "${CPACK_VORMEL_SOURCE_DIR}"
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    execute_process(COMMAND dpkg-parsechangelog -l "${CPACK_VORMEL_SOURCE_DIR}/cmake/debian/changelog"
      -S Timestamp OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "no time stamp for the package: set SOURCE_DATE_EPOCH")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()

# Run as a script, it prints the time stamp, which .ci/dist gives the
# release archives too: `cmake -D CPACK_VORMEL_SOURCE_DIR=<dir> -P <this>`.
if(CMAKE_SCRIPT_MODE_FILE)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "$ENV{SOURCE_DATE_EPOCH}")
endif()
