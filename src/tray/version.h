#pragma once
// The program's version, and the one command-line argument the tray answers.

#include <optional>
#include <span>
#include <string>

namespace tallow {

// "tallowmere-tray 0.1.0": the program's name and the project's version.
std::string version_line();

// What the program prints before anything else starts when the command line asks for the
// version: `--version` anywhere after the program's name (arguments[0], as in main's argv)
// gives the version line and a line feed. Any other command line asks for nothing, and
// the program goes on as if it had no arguments: the tray takes no options.
std::optional<std::string> version_request_reply(std::span<const char* const> arguments);

// Prints that reply to standard output and returns exit status 0 when there is one.
std::optional<int> answer_version_request(std::span<const char* const> arguments);

}  // namespace tallow
