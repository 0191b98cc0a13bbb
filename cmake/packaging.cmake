# Install rules.
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
