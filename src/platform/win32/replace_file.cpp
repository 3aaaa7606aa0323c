#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/os_error.h"
#include "platform/win32/posix_rename.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::platform {
namespace {

// Errors that mean the target is open elsewhere at the moment, not that it cannot
// be replaced at all.
bool is_held_open(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// Renames the closed file `from` over `to`, for systems without POSIX renames (older
// Windows, FAT, Wine), where a rename fails while anyone holds the target open.
// Readers hold it only for moments, so we try again for a while. (ReplaceFileW copes
// with holders that share delete access, but it moves the old file aside first, so
// a reader could find no file at all.) Sets the last error on failure.
bool move_over(const std::filesystem::path& from, const std::filesystem::path& to) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (unsigned attempt = 0;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = GetLastError();
    if (!is_held_open(error) || std::chrono::steady_clock::now() >= deadline) {
      SetLastError(error);
      return false;
    }
    // A reader polling in a tight loop leaves only short gaps, which a millisecond's
    // sleep would mostly miss: yield at first, and sleep only once that has not helped.
    Sleep(attempt < 1000 ? 0 : 1);
  }
}

}  // namespace

Result<void> replace_file_atomically(const std::filesystem::path& path, std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  auto temporary = path;
  temporary += L".tmp-" + std::to_wstring(current_process_id()) + L"-" +
               std::to_wstring(counter++);

  // DELETE access, so the open temporary file can itself be renamed over the target.
  win32::ScopedHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return last_os_error();
  const auto fail = [&](const Error& error) -> Error {
    file.reset();
    DeleteFileW(temporary.c_str());
    return error;
  };
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), chunk, &written, nullptr)) return fail(last_os_error());
    bytes.remove_prefix(written);
  }
  // The content must reach the disk before the name does, or a crash could leave
  // the new name on an empty file.
  if (!FlushFileBuffers(file.get())) return fail(last_os_error());

  // Atomic even while readers that share delete access hold the target open.
  if (win32::rename_over_posix(file.get(), path)) return {};
  file.reset();
  if (!move_over(temporary, path)) return fail(last_os_error());
  return {};
}

}  // namespace tallow::platform
