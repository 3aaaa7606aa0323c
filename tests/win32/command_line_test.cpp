// The command line we build must come back unchanged through the parser every
// Windows program uses, CommandLineToArgvW.

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/command_line.h"
#include "support/command_line_reference.h"

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

// A random argument: pieces that matter to the parser (blanks, quotes, runs of
// backslashes before a quote or at the end, line breaks) among plain and non-ASCII
// text, surrogate pairs included; empty about one time in eight.
std::u16string random_argument(std::mt19937_64& rng) {
  static const std::u16string kPieces[] = {u" ",  u"\t", u"\"", u"\\", u"\\\\\"", u"\\\\\\\"",
                                           u"a",  u"Zz", u"\n", u"\v",  u"\u00e9",         u"\u65e5\u672c",
                                           u"\U0001F600", u"--hub=x", u"C:\\dir\\"};
  std::u16string argument;
  const auto pieces = std::uniform_int_distribution<int>(0, 7)(rng);
  for (int i = 0; i < pieces; ++i) {
    argument += kPieces[std::uniform_int_distribution<std::size_t>(0, std::size(kPieces) - 1)(rng)];
  }
  // A run of backslashes at the very end, which the closing quote must not swallow.
  if (std::bernoulli_distribution(0.2)(rng)) argument.append(std::uniform_int_distribution<int>(1, 5)(rng), u'\\');
  return argument;
}

std::uint64_t random_seed() {
  const std::uint64_t seed = (std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}();
  std::cout << "[  seed    ] " << seed << "\n";
  return seed;
}

// A tight loop in one process: a million vectors cost seconds, a process each would
// cost hours under Wine.
TEST(BuildCommandLine, AMillionRandomVectorsComeBackThroughCommandLineToArgvW) {
  constexpr int kVectors = 1'000'000;
  const std::u16string program = u"C:\\Program Files\\tallowmere\\tallowmered.exe";
  std::mt19937_64 rng(random_seed());
  int mismatches = 0;
  for (int i = 0; i < kVectors; ++i) {
    std::vector<std::u16string> arguments(std::uniform_int_distribution<int>(0, 6)(rng));
    for (auto& argument : arguments) argument = random_argument(rng);
    const std::u16string line = build_command_line(program, arguments);
    std::vector<std::u16string> expected{program};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    if (parse(line) != expected && ++mismatches <= 5) {
      ADD_FAILURE() << "vector " << i << ": " << std::string(line.begin(), line.end());
    }
  }
  std::cout << "[  argv    ] " << kVectors << " vectors, " << mismatches << " mismatches\n";
  EXPECT_EQ(mismatches, 0);
}

// The portable splitter the fuzzers use on Linux reads lines as the real one does,
// lines the builder would never make included (quotes in a row, stray backslashes).
TEST(SplitCommandLine, ReadsRandomLinesAsCommandLineToArgvWDoes) {
  static const char16_t kAlphabet[] = {u'"', u'"', u'\\', u'\\', u' ', u'\t', u'a', u'\u00e9'};
  std::mt19937_64 rng(random_seed());
  for (int i = 0; i < 100'000; ++i) {
    std::u16string line = std::bernoulli_distribution(0.5)(rng) ? u"\"C:\\p q\"" : u"p";
    for (int n = std::uniform_int_distribution<int>(0, 16)(rng); n > 0; --n) {
      line += kAlphabet[std::uniform_int_distribution<std::size_t>(0, std::size(kAlphabet) - 1)(rng)];
    }
    ASSERT_EQ(test::split_command_line(line), parse(line)) << std::string(line.begin(), line.end());
  }
}

}  // namespace
}  // namespace tallow::platform
