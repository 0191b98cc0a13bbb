# Read by cpack once for each generator (CPACK_PROJECT_CONFIG_FILE). The .deb
# takes the program and the Debian files (copyright, changelog.gz) instead of
# the plain LICENSE, whose text its copyright file holds; the .tar.gz takes
# what `cmake --install` installs.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_D88_DEB_PROJECTS}")
endif()
