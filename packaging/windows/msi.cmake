# Makes the per-machine Windows Installer package (packaging/windows/tallowmere-tray.wxs)
# from a built Windows tree, with wixl and msibuild from msitools. scripts/package runs it:
#
#   cmake -D BUILD_DIR=build/windows -D OUTPUT_DIR=DIR [-D AGENT_EXE=PATH] [-D SIGN_TOOL=sign.sh] -P msi.cmake
#
# It installs the build's programs into a staging directory as CPack does for the NSIS
# installer (the same stripped tray), adds the agent when AGENT_EXE names one (the tests'
# stand-in is refused, install_agent.cmake), and writes DIR/tallowmere-tray-VERSION-x64.msi.
# For the package tests only: VERSION gives the package another version, and STAGE_DIR
# packs a staging directory made beforehand, as it is.

cmake_minimum_required(VERSION 3.20)
foreach(required BUILD_DIR OUTPUT_DIR)
  if(NOT ${required})
    message(FATAL_ERROR "msi.cmake needs -D ${required}=...")
  endif()
endforeach()
get_filename_component(BUILD_DIR "${BUILD_DIR}" ABSOLUTE)
get_filename_component(OUTPUT_DIR "${OUTPUT_DIR}" ABSOLUTE)
if(STAGE_DIR)
  get_filename_component(STAGE_DIR "${STAGE_DIR}" ABSOLUTE)
  set(STAGE_DIR_GIVEN yes)
endif()
# The build's package settings: version, vendor, icon, the stand-in agent's path.
include("${BUILD_DIR}/CPackConfig.cmake")
if(NOT CPACK_TALLOW_TRAY_CLOSER)
  message(FATAL_ERROR "${BUILD_DIR} is not a Windows build")
endif()
foreach(tool wixl msibuild msiinfo)
  find_program(TALLOW_${tool} ${tool})
  if(NOT TALLOW_${tool})
    message(FATAL_ERROR "${tool} is missing: install the Debian packages wixl and msitools")
  endif()
endforeach()

if(NOT VERSION)
  set(VERSION "${CPACK_PACKAGE_VERSION}")
endif()
if(NOT VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "an MSI version is MAJOR.MINOR.PATCH, not ${VERSION}")
endif()
math(EXPR next_patch "${CMAKE_MATCH_3} + 1")
set(next_version "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${next_patch}")

if(NOT STAGE_DIR)
  set(STAGE_DIR "${BUILD_DIR}/packaging/msi-stage")
  file(REMOVE_RECURSE "${STAGE_DIR}")
  execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${STAGE_DIR}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  set(CPACK_TALLOW_AGENT_EXE "${AGENT_EXE}")
  set(CPACK_TEMPORARY_INSTALL_DIRECTORY "${STAGE_DIR}")
  include("${CMAKE_CURRENT_LIST_DIR}/../install_agent.cmake")
endif()

# Signed, when a certificate is given to scripts/package (SIGN_TOOL does nothing without
# one): our programs before they are packed, the package once it is finished. The closer
# is signed as a copy, so the build keeps it as built; a given agent is packed as it is.
function(sign_files)
  if(SIGN_TOOL)
    execute_process(COMMAND bash "${SIGN_TOOL}" ${ARGN} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endfunction()
set(closer_copy "${BUILD_DIR}/packaging/msi-closer/end_running_trays.exe")
file(REMOVE_RECURSE "${BUILD_DIR}/packaging/msi-closer")
file(COPY "${CPACK_TALLOW_TRAY_CLOSER}" DESTINATION "${BUILD_DIR}/packaging/msi-closer")
set(CPACK_TALLOW_TRAY_CLOSER "${closer_copy}")
if(NOT STAGE_DIR_GIVEN)
  sign_files("${STAGE_DIR}/tallowmere-tray.exe")
endif()
sign_files("${closer_copy}")

# The package names each file: a file that an install rule adds needs its line in the .wxs.
file(GLOB staged RELATIVE "${STAGE_DIR}" "${STAGE_DIR}/*")
list(SORT staged)
if(staged STREQUAL "tallowmere-tray.exe")
  set(with_agent no)
elseif(staged STREQUAL "tallowmere-tray.exe;tallowmered.exe")
  set(with_agent yes)
else()
  message(FATAL_ERROR "tallowmere-tray.wxs does not name every staged file: ${staged}")
endif()

set(msi "${OUTPUT_DIR}/tallowmere-tray-${VERSION}-x64.msi")
file(MAKE_DIRECTORY "${OUTPUT_DIR}")
file(REMOVE "${msi}")
# wixl finds no source file by an absolute path, only relative to where it runs: from /.
foreach(input STAGE_DIR CPACK_TALLOW_ICON CPACK_TALLOW_TRAY_CLOSER)
  file(RELATIVE_PATH ${input}_from_root / "${${input}}")
endforeach()
execute_process(
  COMMAND "${TALLOW_wixl}" -a x64 -o "${msi}"
          -D "Version=${VERSION}" -D "NextVersion=${next_version}" -D "Vendor=${CPACK_PACKAGE_VENDOR}"
          -D "StageDir=${STAGE_DIR_from_root}" -D "WithAgent=${with_agent}"
          -D "Icon=${CPACK_TALLOW_ICON_from_root}" -D "Closer=${CPACK_TALLOW_TRAY_CLOSER_from_root}"
          "${CMAKE_CURRENT_LIST_DIR}/tallowmere-tray.wxs"
  WORKING_DIRECTORY /
  RESULT_VARIABLE status ERROR_VARIABLE complaints)
# wixl ignores what it does not know with a warning, and drops a row it cannot write with
# a "CRITICAL" line, and still succeeds: either is a broken package.
if(NOT status EQUAL 0 OR complaints MATCHES "WARNING|CRITICAL|ERROR")
  file(REMOVE "${msi}")
  message(FATAL_ERROR "wixl failed (${status}):\n${complaints}")
endif()

# What wixl cannot write. The closer's actions run an EXE from the Binary table: type 2,
# and 66 for the one whose exit status is not checked. Error 1722, the failure of such an
# action, worded for the one way it fails.
set(still_running "tallowmered is still running: it did not end within 30 seconds, so its \
files cannot be replaced. Quit it from its menu in the notification area, then run the \
installer again.")
execute_process(
  COMMAND "${TALLOW_msibuild}" "${msi}"
          -q "UPDATE CustomAction SET Type = 2 WHERE Action = 'EndTraysForChange'"
          -q "UPDATE CustomAction SET Type = 2 WHERE Action = 'EndTraysForRemoval'"
          -q "UPDATE CustomAction SET Type = 66 WHERE Action = 'StartTrayAgain'"
          -q "INSERT INTO Error (Error, Message) VALUES (1722, '${still_running}')"
  RESULT_VARIABLE status ERROR_VARIABLE complaints)
execute_process(COMMAND "${TALLOW_msiinfo}" export "${msi}" CustomAction OUTPUT_VARIABLE actions)
if(NOT status EQUAL 0 OR NOT actions MATCHES "EndTraysForChange\t2\tTrayCloser\t"
   OR NOT actions MATCHES "StartTrayAgain\t66\tTrayCloser\t")
  file(REMOVE "${msi}")
  message(FATAL_ERROR "msibuild could not finish ${msi} (${status}):\n${complaints}")
endif()
# Last: any later change to the package would break its signature.
sign_files("${msi}")
message(STATUS "Made ${msi}")
