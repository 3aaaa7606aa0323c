// Launch at Login on Linux: the XDG autostart entry, in a scratch XDG_CONFIG_HOME.

#include "platform/autostart.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/environment.h"
#include "platform/posix/desktop_entry.h"
#include "tray/platform_tray_host.h"
#include "posix/scoped_variables.h"
#include "support/launch_at_login_support.h"
#include "support/test_support.h"

namespace tallow {
namespace {

// Launch at Login switched over as the tray's menu does, for `program`.
Result<void> toggle(const std::filesystem::path& program) {
  return platform::is_autostart_enabled() ? platform::disable_autostart() : platform::enable_autostart(program);
}

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

class LaunchAtLogin : public ::testing::Test {
 protected:
  void SetUp() override {
    variables_.set("XDG_CONFIG_HOME", config_home_.string());
    variables_.set("HOME", home_.string());
  }
  static fs::path entry_in(const fs::path& config) { return config / "autostart/tallowmere-tray.desktop"; }

  test::TempDir root_{"tallow login"};
  const fs::path config_home_ = root_ / "config home";  // with a space, as a user's name may have
  const fs::path home_ = root_ / "home";
  const fs::path entry_ = entry_in(config_home_);
  test::ScopedVariables variables_;
};

TEST_F(LaunchAtLogin, ToggleWritesAndRemovesTheAutostartEntry) {
  const fs::path program = "/opt/Tallow Mere/bin/tallowmere-tray \"$HOME\" 100%\\";
  ASSERT_FALSE(platform::is_autostart_enabled());

  // On: the directory made, the entry written whole, its Exec running the program.
  ASSERT_TRUE(toggle(program).ok());
  EXPECT_TRUE(platform::is_autostart_enabled());
  const std::string text = test::read_file(entry_);
  EXPECT_EQ(text, platform::posix::desktop_entry_text(program).value());
  EXPECT_EQ(test::desktop_entry_exec(text), Args{program.string()});
  struct stat info {};
  ASSERT_EQ(::stat(entry_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_EQ(std::distance(fs::directory_iterator(entry_.parent_path()), {}), 1) << "a temporary file left";

  // Off: the file goes, the directory stays.
  ASSERT_TRUE(toggle(program).ok());
  EXPECT_FALSE(platform::is_autostart_enabled());
  EXPECT_FALSE(fs::exists(entry_));
  EXPECT_TRUE(fs::is_directory(entry_.parent_path()));

  // Hidden by the desktop's own settings counts as off; switching on replaces it.
  test::write_file(entry_, "[Desktop Entry]\nType=Application\nExec=/elsewhere\nHidden=true\n");
  EXPECT_FALSE(platform::is_autostart_enabled());
  ASSERT_TRUE(toggle(program).ok());
  EXPECT_TRUE(platform::is_autostart_enabled());
  EXPECT_EQ(test::desktop_entry_exec(test::read_file(entry_)), Args{program.string()});

  // Any entry that counts is removed, whatever it runs.
  test::write_file(entry_, "[Desktop Entry]\nType=Application\nExec=/elsewhere\n");
  ASSERT_TRUE(toggle(program).ok());
  EXPECT_FALSE(fs::exists(entry_));

  // Without a path, the running executable.
  ASSERT_TRUE(PlatformTrayHost().toggle_launch_at_login().ok());
  EXPECT_EQ(test::desktop_entry_exec(test::read_file(entry_)), Args{platform::executable_path()->string()});
}

TEST_F(LaunchAtLogin, TheDirectoryFollowsTheBaseDirectoryRules) {
  struct Case { const char* name; std::optional<std::string> config_home; fs::path config; };
  for (const Case& c : std::vector<Case>{
           {"absolute XDG_CONFIG_HOME", (root_ / "absolute").string(), root_ / "absolute"},
           {"relative XDG_CONFIG_HOME is ignored", "relative/config", home_ / ".config"},
           {"empty XDG_CONFIG_HOME is ignored", "", home_ / ".config"},
           {"unset XDG_CONFIG_HOME", std::nullopt, home_ / ".config"}}) {
    SCOPED_TRACE(c.name);
    variables_.set("XDG_CONFIG_HOME", c.config_home);
    ASSERT_TRUE(toggle("/usr/bin/tallowmere-tray").ok());
    EXPECT_TRUE(fs::is_regular_file(entry_in(c.config)));
    ASSERT_TRUE(toggle("/usr/bin/tallowmere-tray").ok());
    EXPECT_FALSE(fs::exists(entry_in(c.config)));
  }
  EXPECT_FALSE(fs::exists("relative"));
}

TEST_F(LaunchAtLogin, FailuresLeaveTheStoreAsItWas) {
  // A path that is not UTF-8 would name another file once written as text.
  auto refused = toggle(fs::path("/opt/tray\xFF"));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "The program's path is not valid Unicode: /opt/tray\xEF\xBF\xBD");
  EXPECT_FALSE(fs::exists(config_home_));

  // A file where the autostart directory should be.
  fs::create_directories(config_home_);
  test::write_file(config_home_ / "autostart", "a file");
  refused = toggle("/usr/bin/tallowmere-tray");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "Not a directory (os error 20)");
  EXPECT_FALSE(platform::is_autostart_enabled());
  EXPECT_EQ(test::read_file(config_home_ / "autostart"), "a file");
}

}  // namespace
}  // namespace tallow
