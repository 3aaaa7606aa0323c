#pragma once
// The tray's autostart desktop entry (freedesktop.org Desktop Entry): the text written,
// and the one key of an entry found there that decides whether it counts.

#include <filesystem>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tallow::platform::posix {

// The whole entry that starts `program` with no arguments. Fails when the path does
// not survive as Unicode text, or holds a control character other than newline, tab and
// carriage return, which a string value cannot hold.
Result<std::string> desktop_entry_text(const std::filesystem::path& program);

// The Exec value that runs `program`: the path in double quotes, a backslash before
// each ", `, $ and backslash in it, "%" doubled, then escaped as a string value
// (backslashes doubled; newline, tab and carriage return as \n, \t and \r).
std::string desktop_exec_value(std::string_view program);

// Whether the "Desktop Entry" group of a desktop entry says Hidden=true: an entry the
// desktop's own settings switched off.
bool desktop_entry_is_hidden(std::string_view text);

}  // namespace tallow::platform::posix
