#pragma once
// A portable reader of Windows command lines, written from the rules CommandLineToArgvW
// follows, so the command-line builder can be fuzzed on any system. Under Wine it is
// held to the real CommandLineToArgvW (tests/win32/command_line_random_test.cpp).

#include <string>
#include <string_view>
#include <vector>

namespace tallow::test {

// argv[0] runs to the next quote when it starts with one (no escapes), otherwise to the
// first space or tab. Then arguments are split at spaces and tabs outside quotes; a
// run of 2n backslashes before a quote gives n and the quote opens or closes quoting,
// 2n+1 give n and a literal quote; other backslashes are literal; inside quotes, two
// quotes in a row give one literal quote and end the quoting.
std::vector<std::u16string> split_command_line(std::u16string_view line);

}  // namespace tallow::test
