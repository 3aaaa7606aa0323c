#include "platform/diagnostics.h"

#include <windows.h>

namespace tallow::platform {

std::size_t open_handle_count() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
  // Wine answers success with 0; there, probe the handle values one by one. Handle
  // values are multiples of 4, and a small process stays far below the bound.
  std::size_t probed = 0;
  for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++probed;
  }
  return probed;
}

}  // namespace tallow::platform
