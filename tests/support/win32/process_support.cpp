#include "support/process_support.h"

#include <windows.h>

#include "platform/win32/scoped_handle.h"

namespace tallow::test {

bool is_process_running(std::uint32_t pid) {
  const platform::win32::ScopedHandle process(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) {
    // A process we may not open still exists; a missing one gives invalid parameter.
    return GetLastError() == ERROR_ACCESS_DENIED;
  }
  return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void kill_process(std::uint32_t pid) {
  const platform::win32::ScopedHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  if (process) TerminateProcess(process.get(), 1);
}

std::size_t open_handles() {
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

}  // namespace tallow::test
