#pragma once
// The menu of notification_icon_demo, shared with the tests that drive it.

#include "platform/notification_icon.h"

namespace tallow::test {

// Built like the tray's own menu for a running, enrolled agent.
inline platform::NotificationMenu demo_menu() {
  using Item = platform::NotificationMenuItem;
  using Kind = Item::Kind;
  const auto item = [](const char* text, const char* command) {
    return Item{Kind::text, text, true, false, command};
  };
  const auto information = [](const char* text) { return Item{Kind::text, text, false, false, {}}; };
  return {information("Running"),
          information("Hub: hub.example.com:8443, connected"),
          Item{},
          item("Stop", "stop"),
          item("Restart", "restart"),
          Item{},
          item("Open Web UI", "web"),
          item("Enroll Again\u2026", "enroll"),
          Item{},
          item("Show Log", "log"),
          item("Open State Directory", "state"),
          Item{Kind::check, "Launch at Login", true, true, "login"},
          Item{},
          item("Quit tallowmered", "quit")};
}

}  // namespace tallow::test
