#pragma once
// The menu of notification_icon_demo, shared with the tests that drive it.

#include "platform/notification_icon.h"

namespace tallow::test {

// Built like the tray's own menu for a running, enrolled agent.
inline platform::Menu demo_menu() {
  using Item = platform::MenuItem;
  return {Item::information("Running"),
          Item::information("Hub: hub.example.com:8443, connected"),
          Item::separator(),
          Item::item("Stop", "stop"),
          Item::item("Restart", "restart"),
          Item::separator(),
          Item::item("Open Web UI", "web"),
          Item::item("Enroll Again\u2026", "enroll"),
          Item::separator(),
          Item::item("Show Log", "log"),
          Item::item("Open State Directory", "state"),
          Item::check("Launch at Login", true, "login"),
          Item::separator(),
          Item::item("Quit tallowmered", "quit")};
}

}  // namespace tallow::test
