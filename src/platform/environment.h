#pragma once
// The process's environment, its own executable, and paths as text.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/result.h"

namespace tallow::platform {

struct EnvironmentVariable {
  std::string name;
  std::string value;
  bool operator==(const EnvironmentVariable&) const = default;
};

// The value of a variable of this process; absent when unset or not valid Unicode.
std::optional<std::string> environment_variable(std::string_view name);

// The value of a variable taken verbatim as a path; absent when unset.
std::optional<std::filesystem::path> environment_path(std::string_view name);

// Whether `variable` can be set: a name that is not empty and holds neither "=" nor a
// NUL, and a value without a NUL.
bool can_be_variable(const EnvironmentVariable& variable);

// This process's environment, with `overrides` applied in order: each sets its variable,
// replacing an inherited value (keeping the inherited spelling of its name) or an
// earlier override, and a later inherited duplicate of its name goes. Overrides that
// cannot be variables are skipped. (portable)
std::vector<EnvironmentVariable> environment_with(const std::vector<EnvironmentVariable>& overrides);

// The variables this process inherited, in order; an entry without a name and "=" is
// none.
std::vector<EnvironmentVariable> inherited_environment();

// What two names of one variable have in common: the name itself on Linux; on Windows
// its upper case, as the system compares names (ordinally, ignoring case).
std::string variable_key(std::string_view name);

// Full path of this process's executable, if the system can tell it.
std::optional<std::filesystem::path> executable_path();

// The same, or the system's error when it cannot tell it.
Result<std::filesystem::path> executable_path_or_error();

// The path as UTF-8 text, each invalid sequence replaced by U+FFFD.
std::string path_text(const std::filesystem::path& path);

// The program's path as text that names it and nothing else; an error for a path that
// is not valid Unicode, which written as text would start some other file, or none.
// (portable)
Result<std::string> program_path_text(const std::filesystem::path& program);

// The path as a child process's argument: its own bytes on Linux, where a file name
// need not be UTF-8; UTF-8 text on Windows, where arguments are UTF-16.
std::string path_argument(const std::filesystem::path& path);

// A path from UTF-8 text.
std::filesystem::path path_from_text(std::string_view text);

std::uint32_t current_process_id();

// The file-name suffix of executables: ".exe" on Windows, empty elsewhere.
std::string_view executable_suffix();

}  // namespace tallow::platform
