#include "platform/win32/file_util.h"

namespace tallow::platform::win32 {

ScopedHandle open_existing_for_reading(const std::filesystem::path& path) {
  return ScopedHandle(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

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

}  // namespace tallow::platform::win32
