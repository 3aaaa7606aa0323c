#include "platform/diagnostics.h"

#include <windows.h>

namespace tallow::platform {

std::size_t open_handle_count() {
  DWORD count = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &count) ? count : 0;
}

}  // namespace tallow::platform
