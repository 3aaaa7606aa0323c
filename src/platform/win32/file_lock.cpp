#include <windows.h>

#include "platform/file.h"
#include "platform/os_error.h"
#include "platform/win32/file_util.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::platform {
namespace {

// Locks the whole file (any length, from offset 0) without waiting.
bool try_lock_whole_file(HANDLE file) {
  OVERLAPPED at_start{};
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 0xFFFFFFFF,
                    0xFFFFFFFF, &at_start) != FALSE;
}

}  // namespace

bool is_file_locked_elsewhere(const std::filesystem::path& path) {
  const win32::ScopedHandle file = win32::open_existing_for_reading(path);
  if (!file || !win32::regular_file_size(file.get())) return false;
  if (try_lock_whole_file(file.get())) {
    // Closing the handle would drop the lock as well, but only eventually; unlock
    // now so that the agent starting this instant finds the file free.
    UnlockFile(file.get(), 0, 0, 0xFFFFFFFF, 0xFFFFFFFF);
    return false;
  }
  // Only a refusal means a holder; any other failure says nothing about one.
  return GetLastError() == ERROR_LOCK_VIOLATION;
}

}  // namespace tallow::platform
