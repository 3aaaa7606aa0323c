#include "platform/file.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <vector>

#include "platform/environment.h"
#include "platform/os_error.h"
#include "platform/win32/file_util.h"
#include "platform/win32/posix_rename.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::platform {

using win32::ScopedHandle;

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    reset();
    native_ = other.release();
    // Some APIs fail with null and others with INVALID_HANDLE_VALUE; a File knows one.
    if (native_ == 0) native_ = kInvalid;
  }
  return *this;
}

void File::reset() {
  if (native_ != kInvalid && native_ != 0) CloseHandle(reinterpret_cast<HANDLE>(native_));
  native_ = kInvalid;
}

std::optional<std::string> read_regular_file(const std::filesystem::path& path,
                                             std::size_t max_bytes) {
  // Never the C runtime's streams: they open without FILE_SHARE_DELETE, and the
  // agent's atomic replace of the file would fail while we read it.
  const ScopedHandle file = win32::open_existing_for_reading(path);
  if (!file || !win32::is_regular_file(file.get())) return std::nullopt;

  LARGE_INTEGER size{};
  if (GetFileSizeEx(file.get(), &size) &&
      static_cast<unsigned long long>(size.QuadPart) > max_bytes) {
    return std::nullopt;
  }

  // Reading one byte past the limit catches a file that grew after the size check.
  const std::size_t limit = max_bytes == std::numeric_limits<std::size_t>::max() ? max_bytes
                                                                                 : max_bytes + 1;
  std::string content;
  content.resize(std::min<std::size_t>(limit, static_cast<std::size_t>(size.QuadPart) + 1));
  std::size_t used = 0;
  while (used < limit) {
    if (used == content.size()) content.resize(std::min(limit, std::max<std::size_t>(used * 2, 4096)));
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - used, 1u << 20));
    DWORD got = 0;
    if (!ReadFile(file.get(), content.data() + used, chunk, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    used += got;
  }
  if (used > max_bytes) return std::nullopt;
  content.resize(used);
  return content;
}

Result<void> create_directories(const std::filesystem::path& path) {
  const auto is_directory = [](const std::filesystem::path& p) {
    const DWORD attributes = GetFileAttributesW(p.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  };
  if (path.empty()) return os_error(ERROR_PATH_NOT_FOUND);

  // Climb to the nearest existing ancestor, then create downwards. A drive root is
  // never created: asking for one fails with "access denied" although it exists.
  std::vector<std::filesystem::path> missing;
  for (auto p = path; !is_directory(p);) {
    missing.push_back(p);
    auto parent = p.parent_path();
    if (parent.empty() || parent == p) break;
    p = std::move(parent);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (CreateDirectoryW(it->c_str(), nullptr)) continue;
    const DWORD error = GetLastError();
    // Someone else may create the same directory at the same time.
    if (error == ERROR_ALREADY_EXISTS && is_directory(*it)) continue;
    return os_error(error);
  }
  return {};
}

Result<File> open_log_for_append(const std::filesystem::path& path) {
  // With FILE_APPEND_DATA alone every write lands at the current end, whatever
  // other writers did meanwhile, and nothing can truncate through this handle.
  ScopedHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, win32::kShareAll, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return last_os_error();
  return win32::to_file(std::move(file));
}

namespace {

// MoveFileExW over `to`, tried again for a while as long as the target is merely
// open elsewhere: without POSIX renames (older systems, FAT, Wine) any reader of
// the file blocks the rename, but readers hold it only for moments.
bool move_over(const std::filesystem::path& from, const std::filesystem::path& to) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + seconds(1);
  DWORD delay_ms = 1;
  for (;;) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = GetLastError();
    const bool held_open = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!held_open || steady_clock::now() >= deadline) {
      SetLastError(error);
      return false;
    }
    Sleep(delay_ms);
    delay_ms = std::min<DWORD>(delay_ms * 2, 32);
  }
}

}  // namespace

Result<void> replace_file_atomically(const std::filesystem::path& path, std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  auto temporary = path;
  temporary += L".tmp-" + std::to_wstring(current_process_id()) + L"-" +
               std::to_wstring(counter++);

  // DELETE access, so the open temporary file can itself be renamed over the target.
  ScopedHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
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

  // A reader sharing delete access (the tray reading status.json, say) makes a
  // classic rename over the file fail; a POSIX one replaces the name under it.
  if (win32::rename_over_posix(file.get(), path)) return {};
  file.reset();
  if (!move_over(temporary, path)) return fail(last_os_error());
  return {};
}

}  // namespace tallow::platform
