# Run by CPack once the files are staged and before they are packed: signs our own
# programs there when scripts/package is given a certificate (scripts/lib/sign.sh
# decides, and does nothing without one), so the build directory keeps them as built.
# An agent given to the package is not ours, and is packed exactly as its makers gave it.

list(TRANSFORM CPACK_TALLOW_SIGNED_PROGRAMS PREPEND "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/"
     OUTPUT_VARIABLE programs)
execute_process(COMMAND bash "${CPACK_TALLOW_SIGN_TOOL}" ${programs} COMMAND_ERROR_IS_FATAL ANY)
