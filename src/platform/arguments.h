#pragma once
// This process's command-line arguments as UTF-8.

#include <string>
#include <vector>

namespace tallow::platform {

// The arguments after the program name. On Windows they are read from the wide
// command line, since `argv` is in the ANSI code page there.
std::vector<std::string> command_line_arguments(int argc, char** argv);

}  // namespace tallow::platform
