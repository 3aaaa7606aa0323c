#pragma once
// The environment block CreateProcessW takes with CREATE_UNICODE_ENVIRONMENT.

#include <string>
#include <vector>

#include "platform/environment.h"

namespace tallow::platform::win32 {

// "name=value\0" for each variable, sorted by name ignoring case as the system keeps
// its own blocks, then one more "\0". Of names equal but for case the last one wins;
// variables that cannot exist (empty name, "=" after the first character, NUL) are left out.
std::wstring environment_block(const std::vector<EnvironmentVariable>& variables);

}  // namespace tallow::platform::win32
