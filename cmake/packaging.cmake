# Install rules, and the packages CPack makes from them: a .tar.gz and a .deb
# on Linux, a .zip on Windows (the release and release-windows presets).
include(GNUInstallDirs)
if(WIN32)
  # A folder to unzip anywhere: the program, its README and licence side by side.
  install(TARGETS d88extract RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
else()
  install(TARGETS d88extract RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/d88extract.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
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
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "d88extract maintainers")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Depends: as dpkg-shlibdeps finds it from the libraries the program links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
