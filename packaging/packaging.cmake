# What the packages install, and how CPack makes them (scripts/package runs it):
#   Windows build: a per-user NSIS installer, packaging/windows/NSIS.template.in, and
#                  a per-machine MSI, packaging/windows/msi.cmake (not CPack's)
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
# On Linux the tray's message boxes and input dialog are a program of their own, which
# the tray also looks for beside itself.
set(TALLOW_INSTALLED_PROGRAMS tallowmere-tray)
if(TARGET tallowmere-dialog)
  list(APPEND TALLOW_INSTALLED_PROGRAMS tallowmere-dialog)
endif()
install(TARGETS ${TALLOW_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${TALLOW_INSTALL_BINDIR})

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
  # Signed when scripts/package is given a certificate: our programs in the staging
  # directory before they are packed, then the uninstaller and the installer as makensis
  # writes them (the template). One rule for all, scripts/lib/sign.sh.
  set(CPACK_TALLOW_SIGN_TOOL "${CMAKE_SOURCE_DIR}/scripts/lib/sign.sh")
  list(TRANSFORM TALLOW_INSTALLED_PROGRAMS APPEND "${CMAKE_EXECUTABLE_SUFFIX}"
       OUTPUT_VARIABLE CPACK_TALLOW_SIGNED_PROGRAMS)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/windows/sign_programs.cmake)

  # The MSI's helper that ends the running trays before their files are replaced or
  # removed (packaging/windows/msi.cmake). A windowed program, so that no console flashes
  # up while the installer runs it; the package carries it, nothing installs it.
  add_executable(end_running_trays WIN32 ${CMAKE_CURRENT_LIST_DIR}/windows/end_running_trays.cpp)
  target_link_options(end_running_trays PRIVATE -municode)
  target_link_libraries(end_running_trays PRIVATE tallow_core)
  tallow_strip_debug(end_running_trays)
  # Read by msi.cmake, which loads this configuration.
  set(CPACK_TALLOW_TRAY_CLOSER ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/end_running_trays.exe)
else()
  # The desktop entry, the rook in every size the icon theme looks for (and the tray's
  # symbolic and failed icons, which it names), the manual page, the copyright file and
  # the changelog.
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/linux/tallowmere-tray.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/icons/hicolor
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
          FILES_MATCHING PATTERN "tallowmere-tray.png" PATTERN "tallowmere-tray.svg"
                         PATTERN "tallowmere-tray-*.svg")

  # The installed copies also go without the compiler's notes, as in Debian's own packages.
  foreach(program ${TALLOW_INSTALLED_PROGRAMS})
    install(CODE "
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
        COMMAND_ERROR_IS_FATAL ANY)")
    # Debian's hardening: the relocation table is made read-only once loaded. Only the
    # libraries a program calls are recorded as needed, so no package is required for
    # nothing (the dialog links the core library, but uses little of what it links).
    target_link_options(${program} PRIVATE LINKER:-z,relro LINKER:-z,now LINKER:--as-needed)
  endforeach()
  # And the C library's checked string and memory functions where the compiler can see a
  # buffer's size (they need optimization, and stand in the sanitizers' way).
  if(NOT TALLOW_ASAN AND NOT TALLOW_TSAN)
    foreach(target tallow_core ${TALLOW_INSTALLED_PROGRAMS})
      target_compile_definitions(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    endforeach()
  endif()

  # Debian wants the manual pages and the changelog compressed, without a time stamp.
  find_program(TALLOW_GZIP gzip REQUIRED)
  set(tallow_docs ${CMAKE_BINARY_DIR}/packaging)
  set(tallow_compressed_docs ${tallow_docs}/changelog.gz)
  set(tallow_compress_commands
      COMMAND ${TALLOW_GZIP} -9n -c ${CMAKE_CURRENT_LIST_DIR}/linux/changelog > ${tallow_docs}/changelog.gz)
  foreach(program ${TALLOW_INSTALLED_PROGRAMS})
    configure_file(${CMAKE_CURRENT_LIST_DIR}/linux/${program}.1 ${tallow_docs}/${program}.1 @ONLY)
    list(APPEND tallow_man_pages ${tallow_docs}/${program}.1)
    list(APPEND tallow_compressed_docs ${tallow_docs}/${program}.1.gz)
    list(APPEND tallow_compress_commands COMMAND ${TALLOW_GZIP} -9nf -k ${tallow_docs}/${program}.1)
    install(FILES ${tallow_docs}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  add_custom_command(
    OUTPUT ${tallow_compressed_docs}
    ${tallow_compress_commands}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/linux/changelog ${tallow_man_pages}
    COMMENT "Compressing the manual pages and the changelog")
  add_custom_target(tallow_package_docs ALL DEPENDS ${tallow_compressed_docs})
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/linux/copyright ${tallow_docs}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tallowmere-tray)

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

Its message boxes and the enrollment dialog are shown by tallowmere-dialog, a
small GTK program installed beside it, so that the idle tray does not keep GTK.

The agent is a separate program: the tray looks for it in its own directory,
so a packaged agent belongs in /usr/bin.")
  # Library dependencies as dpkg-shlibdeps reads them from the programs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
endif()

include(CPack)
