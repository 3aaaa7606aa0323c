# The project's version where the program shows it: `tallowmere-tray --version`, and on
# Windows the executable's version resource (Explorer's Properties, Task Manager).

set(TALLOW_VENDOR "tallowmere" CACHE STRING "Who publishes the program: version resource, packages")
set(TALLOW_COPYRIGHT "Copyright © 2026 the tallowmere maintainers" CACHE STRING
    "The copyright line of the version resource")

set(TALLOW_VERSION_HEADER_DIR ${CMAKE_BINARY_DIR}/generated/version)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tallow_version.h.in
               ${TALLOW_VERSION_HEADER_DIR}/tallow_version.h @ONLY)
target_include_directories(tallow_core PRIVATE ${TALLOW_VERSION_HEADER_DIR})

if(WIN32)
  # Only the tray carries it: the test programs that share its icon and manifest are not it.
  target_sources(tallowmere-tray PRIVATE ${CMAKE_SOURCE_DIR}/res/version.rc)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/res/version.rc PROPERTIES
    INCLUDE_DIRECTORIES ${TALLOW_VERSION_HEADER_DIR}
    OBJECT_DEPENDS ${TALLOW_VERSION_HEADER_DIR}/tallow_version.h)
endif()
