// The autostart desktop entry: how a path is quoted into its Exec line, what the entry
// says, and when the desktop's own settings switched it off.

#include "platform/posix/desktop_entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/environment.h"
#include "support/launch_at_login_support.h"

namespace tallow::platform::posix {
namespace {

TEST(DesktopExecValue, QuotesThePathAndEscapesItTwice) {
  struct Case {
    const char* name;
    std::string path;
    std::string value;
  };
  const std::vector<Case> cases = {
      {"plain", "/usr/bin/tallowmere-tray", R"("/usr/bin/tallowmere-tray")"},
      {"spaces stay inside the quotes", "/opt/Tallow Mere/tray", R"("/opt/Tallow Mere/tray")"},
      {"double quote", "/a\"b", R"("/a\\"b")"},
      {"backtick", "/a`b", R"("/a\\`b")"},
      {"dollar", "/a$HOME", R"("/a\\$HOME")"},
      {"backslash becomes four", "/a\\b", R"("/a\\\\b")"},
      {"percent is doubled, not a field code", "/100%/%f", R"("/100%%/%%f")"},
      {"newline, tab and carriage return as escapes", "/a\nb\tc\rd", R"("/a\nb\tc\rd")"},
      {"single quote and semicolon need nothing", "/it's;ok", R"("/it's;ok")"},
      {"UTF-8 passes through", "/home/zo\xC3\xAB/tray", "\"/home/zo\xC3\xAB/tray\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string value = desktop_exec_value(c.path);
    EXPECT_EQ(value, c.value);
    // And a reader following the rules gets the path back.
    const auto argv = test::parse_desktop_exec(value);
    ASSERT_EQ(argv.size(), 1u);
    EXPECT_EQ(argv[0], c.path);
  }
}

TEST(DesktopEntry, HiddenTrueInTheMainGroupTurnsItOff) {
  struct Case {
    const char* name;
    std::string text;
    bool hidden;
  };
  const std::string head = "[Desktop Entry]\nType=Application\nName=tallowmered\n";
  const std::vector<Case> cases = {
      {"no Hidden key", head, false},
      {"Hidden=true", head + "Hidden=true\n", true},
      {"blanks around the equals sign", head + "Hidden \t= true\n", true},
      {"indented, no final newline", head + "  Hidden=true", true},
      {"CRLF line ends", "[Desktop Entry]\r\nHidden=true\r\n", true},
      {"Hidden=false", head + "Hidden=false\n", false},
      {"booleans are lower case", head + "Hidden=True\n", false},
      {"the last of a repeated key wins", head + "Hidden=true\nHidden=false\n", false},
      {"the last of a repeated key wins, true", head + "Hidden=false\nHidden=true\n", true},
      {"a comment", head + "# Hidden=true\n", false},
      {"a localized key is another key", head + "Hidden[de]=true\n", false},
      {"a longer key", head + "X-Hidden=true\n", false},
      {"in another group", head + "[Desktop Action quit]\nHidden=true\n", false},
      {"before any group", "Hidden=true\n" + head, false},
      {"main group after another one", "[Other]\nName=x\n[Desktop Entry]\nHidden=true\n", true},
      {"empty file", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(desktop_entry_is_hidden(c.text), c.hidden);
  }
}

TEST(AutostartEntry, RunsTheProgramAndIsNotHidden) {
  const auto program = platform::path_from_text("/opt/Tallow Mere/bin/tallowmere-tray");
  const auto entry = desktop_entry_text(program);
  ASSERT_TRUE(entry.ok()) << entry.error().message;
  const std::string& text = entry.value();
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
  for (const std::string line : {"Type=Application", "Name=tallowmered", "Terminal=false",
                                 "Icon=tallowmere-tray"}) {
    EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line;
  }
  EXPECT_EQ(test::desktop_entry_exec(text), std::vector<std::string>{platform::path_text(program)});
  EXPECT_FALSE(desktop_entry_is_hidden(text));
  EXPECT_EQ(text.back(), '\n');
}

TEST(AutostartEntry, RefusesWhatADesktopEntryCannotHold) {
  for (const char* path : {"/a\x01" "b", "/a\x1F", "/a\x7F"}) {
    const auto entry = desktop_entry_text(platform::path_from_text(path));
    ASSERT_FALSE(entry.ok()) << path;
    EXPECT_NE(entry.error().message.find("control character"), std::string::npos);
  }
}

}  // namespace
}  // namespace tallow::platform::posix
