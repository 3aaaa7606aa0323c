// The command line we build must come back unchanged through the parser every
// Windows program uses, CommandLineToArgvW.

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/command_line.h"

namespace tallow::platform {
namespace {

// The system's reading of `line`, argv[0] included.
std::vector<std::u16string> parse(const std::u16string& line) {
  const std::wstring wide(line.begin(), line.end());
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(wide.c_str(), &count);
  std::vector<std::u16string> result;
  if (argv == nullptr) return result;
  for (int i = 0; i < count; ++i) {
    const std::wstring_view arg(argv[i]);
    result.emplace_back(arg.begin(), arg.end());
  }
  LocalFree(argv);
  return result;
}

struct QuoteCase {
  std::u16string argument;
  std::u16string quoted;
};

TEST(QuoteArgument, QuotesOnlyWhatNeedsIt) {
  const QuoteCase cases[] = {
      {u"", u"\"\""},
      {u"plain", u"plain"},
      {u"C:\\dir\\file", u"C:\\dir\\file"},
      {u"trailing\\", u"trailing\\"},
      {u"--state-directory=C:\\x", u"--state-directory=C:\\x"},
      {u"two words", u"\"two words\""},
      {u"tab\there", u"\"tab\there\""},
      {u"new\nline", u"\"new\nline\""},
      {u"vertical\vtab", u"\"vertical\vtab\""},
      {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
      {u"\"", u"\"\\\"\""},
      {u"a\\\"b", u"\"a\\\\\\\"b\""},
      {u"a\\\\\"b", u"\"a\\\\\\\\\\\"b\""},
      {u"dir with space\\", u"\"dir with space\\\\\""},
      {u"dir with space\\\\", u"\"dir with space\\\\\\\\\""},
      {u"back\\slash inside", u"\"back\\slash inside\""},
      {u"\\\\server\\share path", u"\"\\\\server\\share path\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quote_argument(c.argument), c.quoted)
        << std::string(c.argument.begin(), c.argument.end());
  }
}

TEST(BuildCommandLine, QuotesTheProgramWithoutEscaping) {
  EXPECT_EQ(build_command_line(u"C:\\Program Files\\x\\a.exe", {}),
            u"\"C:\\Program Files\\x\\a.exe\"");
  EXPECT_EQ(build_command_line(u"C:\\a\\", {u"b"}), u"\"C:\\a\\\" b");
}

TEST(BuildCommandLine, CommandLineToArgvWGivesTheArgumentsBack) {
  const std::u16string program = u"C:\\Program Files\\Tallowmere Tr\u00e4y\\tallowmered.exe";
  const std::vector<std::vector<std::u16string>> cases = {
      {},
      {u""},
      {u"", u"", u""},
      {u"one"},
      {u"two words", u"three more words"},
      {u" "},
      {u"\t"},
      {u" leading", u"trailing "},
      {u"tab\tinside", u"new\nline", u"vertical\vtab"},
      {u"\""},
      {u"\"\""},
      {u"\"quoted\""},
      {u"say \"hi\" now"},
      {u"\\"},
      {u"\\\\"},
      {u"\\\\\\"},
      {u"end\\"},
      {u"end\\\\"},
      {u"space end\\"},
      {u"space end\\\\\\"},
      {u"\\\"", u"\\\\\"", u"\\\\\\\""},
      {u"a\\\"b c", u"a\\\\\"b", u"\"\\"},
      {u"\\\\server\\share\\dir with space\\"},
      {u"--state-directory=C:\\Users\\J\u00f6rg\\AppData\\Local\\tallowmere"},
      {u"\u65e5\u672c\u8a9e", u"emoji \U0001F600 here", u"\u00e9\\\""},
      {u"a", u"", u"b", u"", u""},
      {u"odd\"quote", u"x\"\"y", u"\"start", u"end\""},
      {u"^&|<>%!", u"(parens)", u"'single'"},
  };
  for (const auto& arguments : cases) {
    const std::u16string line = build_command_line(program, arguments);
    std::vector<std::u16string> expected{program};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(parse(line), expected) << std::string(line.begin(), line.end());
  }
}

TEST(BuildCommandLine, EveryShortArgumentOverATrickyAlphabetRoundTrips) {
  // All strings up to length 4 over the characters that matter to the parser.
  const std::u16string alphabet = u"\\\" a\t";
  std::vector<std::u16string> arguments{u""};
  for (std::size_t begin = 0, length = 0; length < 4; ++length) {
    const std::size_t end = arguments.size();
    for (std::size_t i = begin; i < end; ++i) {
      for (const char16_t c : alphabet) arguments.push_back(arguments[i] + c);
    }
    begin = end;
  }
  for (const auto& argument : arguments) {
    const std::vector<std::u16string> expected{u"p", argument, u"next"};
    EXPECT_EQ(parse(build_command_line(u"p", {argument, u"next"})), expected)
        << std::string(argument.begin(), argument.end());
  }
}

}  // namespace
}  // namespace tallow::platform
