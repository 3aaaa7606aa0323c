#pragma once
// The operating system's own words for an error code.

#include <cstdint>
#include <string>

#include "common/result.h"

namespace tallow::platform {

// The system's message for `code` with trailing white space removed, then
// " (os error N)". Windows: FormatMessageW over GetLastError codes; Linux: strerror over errno.
std::string os_error_text(std::uint32_t code);

// An Error carrying os_error_text of the calling thread's last error.
Error last_os_error();

// An Error carrying os_error_text of `code`.
Error os_error(std::uint32_t code);

}  // namespace tallow::platform
