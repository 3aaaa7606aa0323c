#pragma once
// The graceful stop request to a child's process group: a console break.

#include <cstdint>

namespace tallow::platform::win32 {

// Sends CTRL_BREAK_EVENT to the process group led by `pid` through that process's
// console. True when the event was generated.
bool send_console_break(std::uint32_t pid);

}  // namespace tallow::platform::win32
