#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "agent_side/agent_side.h"
#include "platform/environment.h"
#include "platform/os_error.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::agent_side {

using namespace platform;
namespace {

// The SDK declares the class and the flags member only for a newer _WIN32_WINNT than we
// build for, so they are spelled out here.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kReplaceIfExists = 0x1;
constexpr DWORD kPosixSemantics = 0x2;

struct RenameInfoEx {
  DWORD flags;
  HANDLE root_directory;
  DWORD file_name_length;  // in bytes, without a terminator
  WCHAR file_name[1];
};
static_assert(offsetof(RenameInfoEx, file_name) == offsetof(FILE_RENAME_INFO, FileName));

// Renames the file open as `file` (with DELETE access) over `target` with POSIX semantics:
// it replaces the target even while others hold it open sharing delete access. Needs
// Windows 10 1709 and a file system that supports it; false (last error set) otherwise.
bool rename_over_posix(HANDLE file, const std::filesystem::path& target) {
  std::error_code error;
  const std::wstring name = std::filesystem::absolute(target, error).native();
  if (error) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  const std::size_t name_bytes = name.size() * sizeof(wchar_t);
  const std::size_t size = offsetof(RenameInfoEx, file_name) + name_bytes + sizeof(wchar_t);
  // The structure ends in a variable-length name, so it lives in raw storage.
  const auto storage = std::make_unique<std::max_align_t[]>(size / sizeof(std::max_align_t) + 1);
  auto* info = reinterpret_cast<RenameInfoEx*>(storage.get());
  info->flags = kReplaceIfExists | kPosixSemantics;
  info->root_directory = nullptr;
  info->file_name_length = static_cast<DWORD>(name_bytes);
  std::memcpy(info->file_name, name.c_str(), name_bytes + sizeof(wchar_t));
  return SetFileInformationByHandle(file, kFileRenameInfoEx, info, static_cast<DWORD>(size)) != FALSE;
}

// Renames the closed file `from` over `to`, for systems without POSIX renames (older
// Windows, FAT, Wine), where a rename fails while anyone holds the target open. Readers
// hold it only for moments, so it tries again for a while. (ReplaceFileW moves the old
// file aside first, so a reader could find no file at all.) Sets the last error on failure.
bool move_over(const std::filesystem::path& from, const std::filesystem::path& to) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (unsigned attempt = 0;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = GetLastError();
    const bool held_open = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!held_open || std::chrono::steady_clock::now() >= deadline) {
      SetLastError(error);
      return false;
    }
    // A reader polling in a tight loop leaves only short gaps, which a millisecond's
    // sleep would mostly miss: yield at first, and sleep only once that has not helped.
    Sleep(attempt < 1000 ? 0 : 1);
  }
}

}  // namespace

Result<FileLock> lock_file_exclusively(const std::filesystem::path& path) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;  // as the tray's probe
  win32::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return last_os_error();
  OVERLAPPED at_start{};
  if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 0xFFFFFFFF, 0xFFFFFFFF,
                  &at_start)) {
    return last_os_error();
  }
  return FileLock(win32::to_file(std::move(file)));
}

Result<void> replace_file_atomically(const std::filesystem::path& path, std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  auto temporary = path;
  temporary += L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);

  // DELETE access, so the open temporary file can itself be renamed over the target.
  win32::ScopedHandle file(
      CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
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
  // The content must reach the disk before the name does, or a crash could leave the new
  // name on an empty file.
  if (!FlushFileBuffers(file.get())) return fail(last_os_error());
  if (rename_over_posix(file.get(), path)) return {};
  file.reset();
  if (!move_over(temporary, path)) return fail(last_os_error());
  return {};
}

}  // namespace tallow::agent_side
