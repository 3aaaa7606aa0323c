#pragma once
// Opening files the way every reader and writer here must share them.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/win32/scoped_handle.h"

namespace tallow::platform::win32 {

// Others may read, write, delete or rename over the file while we hold it: the agent
// replaces its files atomically, which fails while any handle lacks FILE_SHARE_DELETE.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens an existing file for reading, never creating it. Not inheritable.
ScopedHandle open_existing_for_reading(const std::filesystem::path& path);

// The size of a file on disk that is not a directory; absent for a directory, pipe,
// console or device, or when the system cannot tell.
std::optional<std::uint64_t> regular_file_size(HANDLE file);

}  // namespace tallow::platform::win32
