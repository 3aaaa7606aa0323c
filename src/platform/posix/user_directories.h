#pragma once
// The user's directories on Linux: home and the XDG base directories.

#include <filesystem>
#include <optional>
#include <string_view>

namespace tallow::platform::posix {

// $HOME when it is absolute, else the home directory of the user's account.
std::optional<std::filesystem::path> home_directory();

// An XDG base directory: the variable when it holds an absolute path (a relative one
// is invalid and ignored), else `under_home` below the home directory.
std::optional<std::filesystem::path> xdg_directory(std::string_view variable, std::string_view under_home);

}  // namespace tallow::platform::posix
