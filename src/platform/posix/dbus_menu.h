#pragma once
// The notification item's menu, exported as com.canonical.dbusmenu through libdbusmenu:
// the host draws it and reports clicks, which go onto the queue of picked commands.

#include <libdbusmenu-glib/server.h>

#include <chrono>
#include <map>
#include <string>

#include "platform/notification_icon.h"
#include "platform/posix/glib_ptr.h"

namespace tallow::platform::posix {

inline constexpr char kDbusMenuPath[] = "/MenuBar";

class DbusMenu {
 public:
  // Exports an empty menu at kDbusMenuPath on the session bus.
  DbusMenu();
  DbusMenu(const DbusMenu&) = delete;
  DbusMenu& operator=(const DbusMenu&) = delete;

  // Publishes `menu` as a new layout: items with their label (shown exactly as written),
  // enabled flag, check mark and separators. An item whose command the menu before had
  // too keeps its id, so a click on a menu the host drew before the change still counts.
  // So does a row without a command (a separator, the status) under the same command
  // row: the rows both menus have keep their order, and a host never has to move one
  // (GNOME's AppIndicator extension ignores moves, and would show rows out of order).
  void set(const Menu& menu);

  // When a host last opened the menu (AboutToShow, or the "opened" event).
  std::chrono::steady_clock::time_point last_opened() const { return last_opened_; }

 private:
  GObjectPtr<DbusmenuServer> server_;
  GObjectPtr<DbusmenuMenuitem> root_;
  // By command; the rows without one by kind and the command row above them.
  std::map<std::string, GObjectPtr<DbusmenuMenuitem>> items_by_key_;
  std::chrono::steady_clock::time_point last_opened_{};
};

}  // namespace tallow::platform::posix
