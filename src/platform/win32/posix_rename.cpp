#include "platform/win32/posix_rename.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <system_error>

namespace tallow::platform::win32 {
namespace {

// The SDK declares the class and the flags member only for a newer _WIN32_WINNT
// than we build for (older systems must keep working), so they are spelled out here.
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

}  // namespace

bool rename_over_posix(HANDLE file, const std::filesystem::path& target) {
  // The name is taken as given, not relative to our working directory.
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

}  // namespace tallow::platform::win32
