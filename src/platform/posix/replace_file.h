#pragma once
// Writing a file whole, so that a reader sees the old content or the new, never a part.

#include <filesystem>
#include <string_view>

#include "common/result.h"

namespace tallow::platform::posix {

// Writes all of `bytes` to a temporary file beside `path`, flushes it, and renames it over
// `path`; on failure `path` is as it was and the temporary file is gone.
Result<void> replace_file_atomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace tallow::platform::posix
