#pragma once
// Renaming an open file over another with POSIX semantics.

#include <windows.h>

#include <filesystem>

namespace tallow::platform::win32 {

// Renames the file open as `file` (opened with DELETE access) to `target`, replacing
// it even while others hold it open sharing delete access: their handles keep the
// old content. Needs Windows 10 1709 and a file system that supports it; false (with
// the last error set) otherwise, and the caller falls back to MoveFileExW.
bool rename_over_posix(HANDLE file, const std::filesystem::path& target);

}  // namespace tallow::platform::win32
