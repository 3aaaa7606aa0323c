#pragma once
// Launch at Login: whether the tray starts when the user logs in. The platform's
// autostart store is the only record of it (platform/autostart.h); these are the
// decisions over it: when the entry counts, what it says, and what a toggle does.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/autostart.h"

namespace tallow {

// Whether the store holds an entry that starts the tray at login.
bool is_launch_at_login_enabled();

// Removes the entry when Launch at Login is on, otherwise writes one that starts
// `program`. The error is the text to show the user; the store is left as it was.
Result<void> toggle_launch_at_login(const std::filesystem::path& program);

// The same for the running executable.
Result<void> toggle_launch_at_login();

// Whether an entry as the store gave it counts as on: any command-line entry does
// (Windows runs a Run value whatever its data, even one left by a copy of the program
// elsewhere); a desktop entry does unless it is marked Hidden=true.
bool autostart_entry_counts(platform::AutostartFormat format,
                            const std::optional<std::string>& entry);

// The entry that starts `program` with no arguments: for a command line, the path in
// double quotes and nothing else; for a desktop entry, the whole file. Fails when the
// path does not survive as Unicode text, or holds what a desktop entry cannot.
Result<std::string> autostart_entry_text(platform::AutostartFormat format,
                                         const std::filesystem::path& program);

// The Exec value that runs `program`: the path in double quotes, a backslash before
// each ", `, $ and backslash in it, "%" doubled, then escaped as a string value
// (backslashes doubled; newline, tab and carriage return as \n, \t and \r).
std::string desktop_exec_value(std::string_view program);

// Whether the "Desktop Entry" group of a desktop entry says Hidden=true.
bool desktop_entry_is_hidden(std::string_view text);

}  // namespace tallow
