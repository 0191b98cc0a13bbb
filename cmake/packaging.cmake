# Install rules, and the packages CPack makes from them: a .tar.gz and a .deb
# on Linux, a .zip on Windows (the release and release-windows presets).
include(GNUInstallDirs)

# The .deb's Maintainer field, and the signature of its changelog entry: who
# packages it, as "Name <address>". Set it when you make a .deb to hand out:
#   cmake --preset release -DD88_DEB_MAINTAINER="Your Name <you@example.org>"
#   cmake --workflow --preset package
# (the workflow keeps the value in the cache). The default is a placeholder on
# the .invalid domain, which no mail reaches.
set(D88_DEB_MAINTAINER "d88extract maintainers <maintainers@d88extract.invalid>"
  CACHE STRING "Maintainer of the .deb, as \"Name <address>\"")

# Files made from the sources at configure time (so that installing needs no
# build step of its own); CMake runs again when a source changes.
set(generated ${CMAKE_CURRENT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${generated})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE
  ${CMAKE_CURRENT_SOURCE_DIR}/doc/d88extract.1)

# Writes CONTENT to DESTINATION, which is touched only when its bytes change.
function(d88_write_if_changed destination content)
  file(WRITE ${destination}.new "${content}")
  file(COPY_FILE ${destination}.new ${destination} ONLY_IF_DIFFERENT)
  file(REMOVE ${destination}.new)
endfunction()

# Compresses SOURCE into DESTINATION as Debian wants it: gzip -9n (no name, no
# time stamp in the header, so the same bytes every time).
function(d88_gzip source destination)
  execute_process(COMMAND ${D88_GZIP} -9nc ${source} OUTPUT_FILE ${destination}.new
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${source}: ${failed}")
  endif()
  file(COPY_FILE ${destination}.new ${destination} ONLY_IF_DIFFERENT)
  file(REMOVE ${destination}.new)
endfunction()

if(WIN32)
  # A folder to unzip anywhere: the program, its README and licence side by
  # side, with Windows line ends (CR LF) so that any editor shows them.
  foreach(name README.md LICENSE)
    file(READ ${CMAKE_CURRENT_SOURCE_DIR}/${name} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    d88_write_if_changed(${generated}/${name} "${text}")
  endforeach()
  install(TARGETS d88extract RUNTIME DESTINATION .)
  install(FILES ${generated}/README.md ${generated}/LICENSE DESTINATION .)
else()
  find_program(D88_GZIP gzip REQUIRED)
  mark_as_advanced(D88_GZIP)

  # The manual page, compressed as Debian wants it, in every install: man reads
  # it so on any Linux system.
  d88_gzip(${CMAKE_CURRENT_SOURCE_DIR}/doc/d88extract.1 ${generated}/d88extract.1.gz)

  # For the .deb only: the copyright file in Debian's machine-readable format,
  # made from LICENSE (its copyright line and the licence text, indented, with
  # " ." for the empty lines), and the changelog.
  file(READ ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE license)
  string(REPLACE "\r\n" "\n" license "${license}")
  if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n(.+)$")
    message(FATAL_ERROR "LICENSE: no \"Copyright (c)\" line followed by the licence")
  endif()
  set(D88_COPYRIGHT "${CMAKE_MATCH_1}")
  string(STRIP "${CMAKE_MATCH_2}" D88_LICENSE_TEXT)
  string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" D88_LICENSE_TEXT "${D88_LICENSE_TEXT}")
  string(REPLACE "\n" "\n " D88_LICENSE_TEXT " ${D88_LICENSE_TEXT}")
  configure_file(packaging/copyright.in ${generated}/copyright @ONLY)
  configure_file(packaging/changelog.in ${generated}/changelog @ONLY)
  file(STRINGS ${generated}/changelog first_line LIMIT_COUNT 1)
  if(NOT first_line MATCHES "^d88extract \\(${PROJECT_VERSION}\\) ")
    message(WARNING "packaging/changelog.in has no entry for ${PROJECT_VERSION} "
      "on top: the .deb's changelog names another version")
  endif()
  d88_gzip(${generated}/changelog ${generated}/changelog.gz)

  # Components: what every install gets, the plain LICENSE for `cmake --install`
  # and the .tar.gz, and the Debian files, which only the .deb gets (their
  # copyright file holds the licence; cpack-options.cmake picks the components).
  install(TARGETS d88extract RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  # A stripped install (`cmake --install --strip`, the packages) also drops the
  # compilers' .comment section, which strip leaves.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP AND NOT \"${CMAKE_STRIP}\" STREQUAL \"\")
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/d88extract\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT program)
  install(FILES ${generated}/d88extract.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT program)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)
  install(FILES ${generated}/copyright ${generated}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
  set(CPACK_D88_DEB_PROJECTS
    ${CMAKE_BINARY_DIR} ${PROJECT_NAME} program /
    ${CMAKE_BINARY_DIR} ${PROJECT_NAME} debian /)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-options.cmake)
endif()

set(CPACK_PACKAGE_VENDOR "the d88extract authors")
# Lines of at most 80 characters, as the .deb's control file wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "d88extract reads a D88 floppy-disk image file, recognises the two disks of"
  "one disk set, Disk A and Disk B, lists their directories and writes the items"
  "stored on them to files in the current directory. It only reads the image,"
  "and copes with damaged and malformed images.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_CURRENT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ DEB)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${D88_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Depends: as dpkg-shlibdeps finds it from the libraries the program links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
