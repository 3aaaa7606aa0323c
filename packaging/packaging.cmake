# What the packages install, and how CPack makes them (scripts/package runs it):
#   Windows build: a per-user NSIS installer, packaging/windows/NSIS.template.in
#   Linux build:   a Debian package
# Only the real program and its desktop files have install rules. The stand-in agent,
# the test programs and the generators have none, so no package can carry them.

set(TALLOW_AGENT_EXE "" CACHE FILEPATH
    "The agent program to put beside the tray in the packages; none when empty")
set(TALLOW_PACKAGE_CONTACT
    "tallowmere maintainers <maintainers@users.noreply.c-seed-8365f1c6.example>"
    CACHE STRING "The packages' maintainer, as \"Name <address>\"")

# Installed with permissions 0755 whatever the umask of the machine that packages.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The tray looks for the agent in its own directory, so both land in one place.
if(WIN32)
  set(TALLOW_INSTALL_BINDIR .)
else()
  include(GNUInstallDirs)
  set(TALLOW_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS tallowmere-tray RUNTIME DESTINATION ${TALLOW_INSTALL_BINDIR})

set(CPACK_PACKAGE_NAME tallowmere-tray)
set(CPACK_PACKAGE_VENDOR "${TALLOW_VENDOR}")
set(CPACK_PACKAGE_CONTACT "${TALLOW_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "notification-area companion of the tallowmered agent")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
# The packages carry the tray as it is built: stripped, with its debug information kept
# apart in the build directory (tallow_strip_debug in CMakeLists.txt).
# The agent, a separate program, only when a path to it is given (install_agent.cmake).
set(CPACK_INSTALL_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/install_agent.cmake)
set(CPACK_TALLOW_AGENT_EXE "${TALLOW_AGENT_EXE}")
set(CPACK_TALLOW_AGENT_NAME tallowmered${CMAKE_EXECUTABLE_SUFFIX})
set(CPACK_TALLOW_STAND_IN ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/tallowmered${CMAKE_EXECUTABLE_SUFFIX})

if(WIN32)
  set(CPACK_GENERATOR NSIS)
  set(CPACK_PACKAGE_FILE_NAME "tallowmere-tray-${PROJECT_VERSION}-win64-setup")
  # CPack finds our NSIS.template.in before its own on this path.
  set(CPACK_MODULE_PATH "${CMAKE_CURRENT_LIST_DIR}/windows")
  set(CPACK_TALLOW_AGENT_DIRECTORY /)
  # Read by the template.
  set(CPACK_TALLOW_ICON "${CMAKE_SOURCE_DIR}/res/tallowmere.ico")
  set(CPACK_TALLOW_NSIS_INCLUDE "${CMAKE_CURRENT_LIST_DIR}/windows")
  set(CPACK_TALLOW_VERSION_QUAD
      "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
  set(CPACK_TALLOW_COPYRIGHT "${TALLOW_COPYRIGHT}")
else()
  # The desktop entry, the rook in every size the icon theme looks for, the manual page,
  # the copyright file and the changelog.
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/linux/tallowmere-tray.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/icons/hicolor
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
          FILES_MATCHING PATTERN "tallowmere-tray.png" PATTERN "tallowmere-tray.svg")

  # The installed copy also goes without the compiler's notes, as in Debian's own packages.
  install(CODE "
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tallowmere-tray\"
      COMMAND_ERROR_IS_FATAL ANY)")

  # Debian wants the manual page and the changelog compressed, without a time stamp.
  find_program(TALLOW_GZIP gzip REQUIRED)
  set(tallow_docs ${CMAKE_BINARY_DIR}/packaging)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/linux/tallowmere-tray.1
                 ${tallow_docs}/tallowmere-tray.1 @ONLY)
  add_custom_command(
    OUTPUT ${tallow_docs}/tallowmere-tray.1.gz ${tallow_docs}/changelog.gz
    COMMAND ${TALLOW_GZIP} -9nf -k ${tallow_docs}/tallowmere-tray.1
    COMMAND ${TALLOW_GZIP} -9n -c ${CMAKE_CURRENT_LIST_DIR}/linux/changelog > ${tallow_docs}/changelog.gz
    DEPENDS ${tallow_docs}/tallowmere-tray.1 ${CMAKE_CURRENT_LIST_DIR}/linux/changelog
    COMMENT "Compressing the manual page and the changelog")
  add_custom_target(tallow_package_docs ALL
    DEPENDS ${tallow_docs}/tallowmere-tray.1.gz ${tallow_docs}/changelog.gz)
  install(FILES ${tallow_docs}/tallowmere-tray.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/linux/copyright ${tallow_docs}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tallowmere-tray)

  # Debian's hardening of the shipped program: its relocation table is made read-only
  # once loaded.
  target_link_options(tallowmere-tray PRIVATE LINKER:-z,relro LINKER:-z,now)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_TALLOW_AGENT_DIRECTORY /usr/${CMAKE_INSTALL_BINDIR})
  set(CPACK_TALLOW_AGENT_STRIP "${CMAKE_STRIP}")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # CPack puts the summary above it, and the blank line between paragraphs as " .".
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "tallowmere-tray runs the tallowmered agent as its own child process and shows
the agent's state in the notification area: the icon, its tooltip and its menu.
From the menu the agent is started, stopped and restarted, the computer is
enrolled with a hub, the hub's Web UI, the agent's log and its state directory
are opened, and Launch at Login is switched on and off.

The agent is a separate program: the tray looks for it in its own directory,
so a packaged agent belongs in /usr/bin.")
  # Library dependencies as dpkg-shlibdeps reads them from the programs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
endif()

include(CPack)
