#pragma once
// The Windows command-line convention, in the form CommandLineToArgvW reverses.

#include <string>
#include <string_view>
#include <vector>

namespace tallow::platform {

// One argument quoted so that CommandLineToArgvW gives it back unchanged:
// untouched when it holds no space, tab, newline, vertical tab or quote and is
// not empty; otherwise in quotes, with backslashes doubled before a quote and
// before the closing quote.
std::u16string quote_argument(std::u16string_view argument);

// The program and its arguments as one command line. The program name is
// quoted without backslash escaping, as CommandLineToArgvW reads argv[0].
std::u16string build_command_line(std::u16string_view program,
                                  const std::vector<std::u16string>& arguments);

}  // namespace tallow::platform
