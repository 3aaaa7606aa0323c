// Driving another process's notification icon, as the end-to-end tests of the tray do:
// find its window, click it, pick from its menu with the keyboard, see the command
// arrive. Reading the menu's items does not cross processes under Wine 8.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers/notification_icon_demo.h"
#include "agent_side/agent_side.h"
#include "platform/process.h"
#include "support/test_support.h"
#include "support/win32/notification_icon_driver.h"
#include "support/process_support.h"

namespace tallow::test::win32 {
namespace {

TEST(Win32NotificationIconAcrossProcesses, ClicksAndPicksReachTheOtherProcess) {
  const TempDir dir;
  const auto out = dir / "picked.txt";
  auto started = tallow::agent_side::spawn_detached(program_path("notification_icon_demo"), {out.string(), "120"});
  ASSERT_TRUE(started.ok()) << started.error().message;
  const DWORD pid = started.value();
  const HWND icon = wait_for_notification_icon_window(pid);
  ASSERT_NE(icon, nullptr);

  std::vector<bool> is_separator;
  for (const auto& item : demo_menu()) {
    is_separator.push_back(item.kind == platform::MenuItem::Kind::separator);
  }
  struct Case {
    const char* name;
    MouseButton button;
    std::size_t position;
    const char* command;
  };
  std::string expected;
  for (const Case& c : {Case{"left_click_stop", MouseButton::left, 3, "stop"},
                        Case{"right_click_login", MouseButton::right, 11, "login"},
                        Case{"left_click_enroll", MouseButton::left, 7, "enroll"},
                        Case{"right_click_quit", MouseButton::right, 13, "quit"}}) {
    SCOPED_TRACE(c.name);
    click_notification_icon(icon, c.button);
    const HWND popup = wait_for_open_menu(pid);
    ASSERT_NE(popup, nullptr);
    // Wine 8 keeps a menu inside its process: the handle from MN_GETHMENU means nothing
    // here and the items cannot be read. Where they can, they are the demo's.
    EXPECT_NE(open_menu_handle(popup), nullptr);
    if (const auto items = read_open_menu(popup)) {
      EXPECT_EQ(items->size(), demo_menu().size());
    }
    pick_with_keyboard(popup, down_presses_to(is_separator, c.position));
    EXPECT_TRUE(wait_for_menu_closed(popup));
    expected += std::string(c.command) + "\n";
    EXPECT_TRUE(wait_until([&] { return read_file(out) == expected; })) << read_file(out);
  }
  // "quit" ends the demo, and its icon goes with it.
  EXPECT_TRUE(wait_until([&] { return !test::is_process_running(pid); }));
  EXPECT_TRUE(wait_until([&] { return find_notification_icon_window(pid) == nullptr; }));
  if (test::is_process_running(pid)) test::kill_process(pid);
}

}  // namespace
}  // namespace tallow::test::win32
