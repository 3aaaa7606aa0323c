#include "platform/file.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/environment.h"
#include "platform/os_error.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::platform {
namespace {

using win32::ScopedHandle;

// Others may read, write, delete or rename over the file while we hold it: the agent
// replaces its files atomically, which fails while any handle lacks FILE_SHARE_DELETE.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Never creates the file. Not inheritable.
ScopedHandle open_existing_for_reading(const std::filesystem::path& path) {
  return ScopedHandle(
      CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The size of a file on disk that is not a directory; absent for a directory, pipe,
// console or device, or when the system cannot tell.
std::optional<std::uint64_t> regular_file_size(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) return std::nullopt;
  // The standard class rather than GetFileInformationByHandle, which also asks the
  // volume for its serial number: many times slower, and the tray asks often.
  FILE_STANDARD_INFO info{};
  if (!GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof(info)) || info.Directory) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info.EndOfFile.QuadPart);
}

}  // namespace

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
  const ScopedHandle file = open_existing_for_reading(path);
  if (!file) return std::nullopt;
  const auto size = regular_file_size(file.get());
  if (!size || *size > max_bytes) return std::nullopt;

  // Reading one byte past the limit catches a file that grew after the size check.
  const std::size_t limit = max_bytes == std::numeric_limits<std::size_t>::max() ? max_bytes
                                                                                 : max_bytes + 1;
  std::string content;
  content.resize(std::min<std::size_t>(limit, static_cast<std::size_t>(*size) + 1));
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
  ScopedHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, kShareAll, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return last_os_error();
  // A named pipe or a device in the log's place is no log: a pipe without a reader
  // would stall the agent's first write.
  if (!regular_file_size(file.get())) return Error{path_text(path) + " is not a regular file"};
  return win32::to_file(std::move(file));
}

bool is_file_locked_elsewhere(const std::filesystem::path& path) {
  const ScopedHandle file = open_existing_for_reading(path);
  if (!file || !regular_file_size(file.get())) return false;
  OVERLAPPED at_start{};
  if (LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 0xFFFFFFFF, 0xFFFFFFFF,
                 &at_start)) {
    // Closing the handle would drop the lock as well, but only eventually; unlock now
    // so that the agent starting this instant finds the file free.
    UnlockFile(file.get(), 0, 0, 0xFFFFFFFF, 0xFFFFFFFF);
    return false;
  }
  // Only a refusal means a holder; any other failure says nothing about one.
  return GetLastError() == ERROR_LOCK_VIOLATION;
}

}  // namespace tallow::platform
