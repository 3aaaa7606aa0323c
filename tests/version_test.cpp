// The program's version: the one in CMakeLists.txt, and the one argument the tray answers.
// That the programs print it and exit 0 is checked on the installed packages
// (tests/packaging).

#include "tray/version.h"

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tallow {
namespace {

TEST(Version, IsTheProjectVersionOfCMakeLists) {
  const std::string lists = test::read_file(TALLOW_SOURCE_DIR "/CMakeLists.txt");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(lists, match, std::regex(R"(project\(\S+ VERSION ([0-9.]+))")));
  EXPECT_EQ(version_line(), "tallowmere-tray " + match[1].str());
}

TEST(Version, AnsweredOnlyForVersionArgument) {
  struct Case {
    const char* name;
    std::vector<const char*> arguments;
    bool answered;
  };
  const std::vector<Case> cases = {
      {"no arguments", {"tallowmere-tray"}, false},
      {"nothing at all, not even the program's name", {}, false},
      {"--version", {"tallowmere-tray", "--version"}, true},
      {"after another argument", {"tallowmere-tray", "--verbose", "--version"}, true},
      {"the program's own name does not count", {"--version"}, false},
      {"a longer word", {"tallowmere-tray", "--versions"}, false},
      {"one dash", {"tallowmere-tray", "-version"}, false},
      {"upper case", {"tallowmere-tray", "--VERSION"}, false},
      {"with a value", {"tallowmere-tray", "--version=1"}, false},
      {"a null entry is skipped", {"tallowmere-tray", nullptr, "--version"}, true},
      {"other options are ignored", {"tallowmere-tray", "--help"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> reply = version_request_reply(c.arguments);
    if (c.answered) {
      EXPECT_EQ(reply, std::optional<std::string>(version_line() + "\n"));
    } else {
      EXPECT_EQ(reply, std::nullopt);
    }
  }
}

}  // namespace
}  // namespace tallow
