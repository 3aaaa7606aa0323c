# Run by CPack while it stages a package: puts the agent program beside the tray when
# CPACK_TALLOW_AGENT_EXE names one. The value comes from TALLOW_AGENT_EXE when the build
# is configured, or from `cpack -D CPACK_TALLOW_AGENT_EXE=path` when the package is made.

if(NOT CPACK_TALLOW_AGENT_EXE)
  return()
endif()

get_filename_component(agent "${CPACK_TALLOW_AGENT_EXE}" REALPATH)
get_filename_component(stand_in "${CPACK_TALLOW_STAND_IN}" REALPATH)
if(NOT EXISTS "${agent}" OR IS_DIRECTORY "${agent}")
  message(FATAL_ERROR "The agent to package is missing: ${CPACK_TALLOW_AGENT_EXE}")
endif()
if(agent STREQUAL stand_in)
  message(FATAL_ERROR "${CPACK_TALLOW_AGENT_EXE} is the tests' stand-in agent; "
                      "a package carries only the real one")
endif()

# Into the staging directory, under the name the tray looks for, as a program.
set(directory "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_TALLOW_AGENT_DIRECTORY}")
set(target "${directory}/${CPACK_TALLOW_AGENT_NAME}")
message(STATUS "Agent: ${agent}")
file(MAKE_DIRECTORY "${directory}")
file(COPY_FILE "${agent}" "${target}")
file(CHMOD "${target}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                        GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Stripped where the package wants it (Debian), as the tray is. A Windows program is left
# exactly as given: stripping would break its signature.
if(CPACK_TALLOW_AGENT_STRIP)
  execute_process(COMMAND "${CPACK_TALLOW_AGENT_STRIP}" --remove-section=.comment
                          --remove-section=.note "${target}"
                  COMMAND_ERROR_IS_FATAL ANY)
endif()
