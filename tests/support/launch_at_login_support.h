#pragma once
// A reader of desktop entries' Exec lines, written from the Desktop Entry rules
// independently of the code that writes them.

#include <string>
#include <string_view>
#include <vector>

namespace tallow::test {

// The arguments an Exec value stands for: string escapes undone, "%%" read as "%",
// then split at blanks, a quoted argument taking a backslash before ", `, $ and \.
// None (empty) when a "%" is not doubled: it would be a field code.
std::vector<std::string> parse_desktop_exec(std::string_view value);

// The arguments of the Exec line in the "Desktop Entry" group; empty when it has none.
std::vector<std::string> desktop_entry_exec(std::string_view text);

}  // namespace tallow::test
