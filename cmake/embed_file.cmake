# Writes a C++ source that holds the bytes of one file, behind a function that returns them:
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DFUNCTION=name -P embed_file.cmake
# The function is declared as `std::span<const std::uint8_t> tallow::FUNCTION()`.

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
if(hex_length EQUAL 0)
  message(FATAL_ERROR "${INPUT} is empty or missing")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line.
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
get_filename_component(input_name "${INPUT}" NAME)

file(WRITE "${OUTPUT}.tmp"
"// Generated from ${input_name} by cmake/embed_file.cmake. Do not edit.

#include <cstdint>
#include <span>

namespace tallow {
namespace {

constexpr std::uint8_t kBytes[] = {
    ${bytes}
};

}  // namespace

std::span<const std::uint8_t> ${FUNCTION}() { return kBytes; }

}  // namespace tallow
")
# Only a real change makes the build recompile.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
