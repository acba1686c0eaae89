# The Debian package: `cmake --build --preset release --target package`
# writes vormel_<version>_<arch>.deb into the build directory.

set(maintainer "The vormel authors <vormel@example.org>")

# Debian keeps manual pages and changelogs compressed, without a time stamp
# or name in the gzip header (-n), so that a rebuild gives the same bytes.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
function(add_gzipped_file source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${GZIP_EXECUTABLE} -9n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${source}")
endfunction()
add_gzipped_file(${PROJECT_SOURCE_DIR}/man/vormel.1 ${PROJECT_BINARY_DIR}/vormel.1.gz)
add_gzipped_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_target(compressed_docs ALL
  DEPENDS ${PROJECT_BINARY_DIR}/vormel.1.gz ${PROJECT_BINARY_DIR}/changelog.gz)

# Debian's copyright file in its machine-readable form, with the licence text
# taken from LICENSE: blank lines become " .", every other line is indented.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REGEX REPLACE "^.*\n(Permission)" "\\1" licence "${licence}")
string(REGEX REPLACE "\n$" "" licence "${licence}")
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " licence " ${licence}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: vormel

Files: *
Copyright: 2026 The vormel authors
License: Expat
${licence}
")

install(FILES ${PROJECT_BINARY_DIR}/vormel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
# Two builds of the same commit give the same .deb: every time stamp in it
# is the commit's (see SourceDateEpoch.cmake), and the directories it
# installs are 0755. The modes of the archive's own members still follow
# the umask, which CMake cannot set: build it under 022.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/SourceDateEpoch.cmake)
set(CPACK_VORMEL_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_NAME vormel)
set(CPACK_PACKAGE_VENDOR "The vormel authors")
set(CPACK_PACKAGE_CONTACT "${maintainer}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tag every line of a stream with a random number")
set(CPACK_PACKAGE_DESCRIPTION
"vormel copies standard input to standard output line by line and appends to
every line one space and a pseudo-random whole number from 0 to 50000,
right-aligned in eight columns. Use it in pipelines to shuffle or sample the
lines of a file, or to tag log lines as they stream past. It copies every
byte exactly, reports every read and write error, and runs at about the
speed of cat in constant memory.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${maintainer}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Named by the cross toolchain file; natively, dpkg's own architecture.
if(DEFINED cross_debian_arch)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${cross_debian_arch})
endif()
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
include(CPack)
