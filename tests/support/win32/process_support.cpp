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

}  // namespace tallow::test
