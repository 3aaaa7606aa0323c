#pragma once
// The program's version, and the one command-line argument the tray answers.

#include <optional>
#include <span>
#include <string>

namespace tallow {

// "tallowmere-tray 0.1.0": the program's name and the project's version.
std::string version_line();

// `--version` anywhere on the command line prints the version line to standard output
// and asks for exit status 0, before anything else starts. Any other command line asks
// for nothing, and the program goes on as if it had no arguments: the tray takes no
// options. The first element is the program's own name, as in main's argv.
std::optional<int> answer_version_request(std::span<const char* const> arguments);

}  // namespace tallow
