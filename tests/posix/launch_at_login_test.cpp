// Launch at Login on Linux: the XDG autostart entry in a scratch XDG_CONFIG_HOME.

#include "tray/launch_at_login.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "support/launch_at_login_support.h"
#include "support/test_support.h"

namespace tallow {
namespace {

namespace fs = std::filesystem;

// Sets variables for one test and restores them after it.
class ScopedVariables {
 public:
  void set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  ~ScopedVariables() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class LaunchAtLogin : public ::testing::Test {
 protected:
  void SetUp() override {
    variables_.set("XDG_CONFIG_HOME", config_home().string());
    variables_.set("HOME", (root_ / "home").string());
  }

  // With spaces, as a user's name or a mounted volume may have.
  fs::path config_home() const { return root_ / "config home"; }
  fs::path entry_in(const fs::path& config) const {
    return config / "autostart" / "tallowmere-tray.desktop";
  }
  fs::path entry() const { return entry_in(config_home()); }

  test::TempDir root_{"tallow login"};
  ScopedVariables variables_;
};

TEST_F(LaunchAtLogin, ToggleWritesAndRemovesTheAutostartEntry) {
  const fs::path program = "/opt/Tallow Mere/bin/tallowmere-tray \"$HOME\" 100%";
  ASSERT_FALSE(is_launch_at_login_enabled());
  ASSERT_FALSE(fs::exists(config_home()));

  // On: the directory is made, the entry written whole, and its Exec runs the program.
  ASSERT_TRUE(toggle_launch_at_login(program).ok());
  EXPECT_TRUE(is_launch_at_login_enabled());
  const std::string text = test::read_file(entry());
  EXPECT_EQ(text, autostart_entry_text(platform::AutostartFormat::desktop_entry, program).value());
  EXPECT_EQ(test::desktop_entry_exec(text), std::vector<std::string>{program.string()});
  struct stat info {};
  ASSERT_EQ(::stat(entry().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  // Nothing else is left beside it (no temporary file).
  EXPECT_EQ(std::distance(fs::directory_iterator(entry().parent_path()), fs::directory_iterator()), 1);

  // Off: the file goes, the directory stays.
  ASSERT_TRUE(toggle_launch_at_login(program).ok());
  EXPECT_FALSE(is_launch_at_login_enabled());
  EXPECT_FALSE(fs::exists(entry()));
  EXPECT_TRUE(fs::is_directory(entry().parent_path()));

  // An entry hidden by the desktop's own settings counts as off; switching on replaces it.
  test::write_file(entry(), "[Desktop Entry]\nType=Application\nExec=/elsewhere\nHidden=true\n");
  EXPECT_FALSE(is_launch_at_login_enabled());
  ASSERT_TRUE(toggle_launch_at_login(program).ok());
  EXPECT_TRUE(is_launch_at_login_enabled());
  EXPECT_EQ(test::desktop_entry_exec(test::read_file(entry())), std::vector<std::string>{program.string()});

  // Any entry that counts is removed, whatever it runs.
  test::write_file(entry(), "[Desktop Entry]\nType=Application\nExec=/elsewhere\n");
  EXPECT_TRUE(is_launch_at_login_enabled());
  ASSERT_TRUE(toggle_launch_at_login(program).ok());
  EXPECT_FALSE(fs::exists(entry()));
}

TEST_F(LaunchAtLogin, WithoutAPathTheRunningExecutableIsStarted) {
  ASSERT_TRUE(toggle_launch_at_login().ok());
  const auto self = platform::executable_path();
  ASSERT_TRUE(self);
  EXPECT_EQ(test::desktop_entry_exec(test::read_file(entry())), std::vector<std::string>{self->string()});
  ASSERT_TRUE(toggle_launch_at_login().ok());
  EXPECT_FALSE(fs::exists(entry()));
}

TEST_F(LaunchAtLogin, TheDirectoryFollowsTheBaseDirectoryRules) {
  struct Case {
    const char* name;
    std::optional<std::string> config_home;
    fs::path expected;
  };
  const fs::path home = root_ / "home";
  const std::vector<Case> cases = {
      {"absolute XDG_CONFIG_HOME", (root_ / "absolute").string(), root_ / "absolute"},
      {"relative XDG_CONFIG_HOME is ignored", "relative/config", home / ".config"},
      {"empty XDG_CONFIG_HOME is ignored", "", home / ".config"},
      {"unset XDG_CONFIG_HOME", std::nullopt, home / ".config"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    variables_.set("XDG_CONFIG_HOME", c.config_home);
    ASSERT_TRUE(toggle_launch_at_login("/usr/bin/tallowmere-tray").ok());
    EXPECT_TRUE(fs::is_regular_file(entry_in(c.expected)));
    EXPECT_FALSE(fs::exists("relative"));
    ASSERT_TRUE(toggle_launch_at_login("/usr/bin/tallowmere-tray").ok());
    EXPECT_FALSE(fs::exists(entry_in(c.expected)));
  }
}

TEST_F(LaunchAtLogin, FailuresLeaveTheStoreAsItWas) {
  // A path that is not UTF-8 would name another file once written as text.
  auto refused = toggle_launch_at_login(fs::path("/opt/tray\xFF"));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "The program's path is not valid Unicode: /opt/tray\xEF\xBF\xBD");
  EXPECT_FALSE(fs::exists(config_home()));

  // Where the autostart directory should be, a file.
  fs::create_directories(config_home());
  test::write_file(config_home() / "autostart", "not a directory");
  refused = toggle_launch_at_login("/usr/bin/tallowmere-tray");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "Not a directory (os error 20)");
  EXPECT_FALSE(is_launch_at_login_enabled());
  EXPECT_EQ(test::read_file(config_home() / "autostart"), "not a directory");
}

}  // namespace
}  // namespace tallow
