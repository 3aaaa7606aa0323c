#pragma once
// The notification item's menu, exported as com.canonical.dbusmenu through libdbusmenu:
// the host draws it and reports clicks, whose commands join the icon's picks.

#include <libdbusmenu-glib/server.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "platform/menu.h"
#include "platform/posix/glib_ptr.h"

namespace tallow::platform::posix {

inline constexpr char kDbusMenuPath[] = "/MenuBar";

class DbusMenu {
 public:
  // Exports an empty menu at kDbusMenuPath on the session bus; the commands of the rows
  // a host reports clicked join `picks`, which must outlive the menu.
  explicit DbusMenu(PickedCommands& picks);
  ~DbusMenu();
  DbusMenu(const DbusMenu&) = delete;
  DbusMenu& operator=(const DbusMenu&) = delete;

  // Publishes `menu`, saying only what changed: the same rows in the same order with
  // other labels, marks or enabled flags are announced row by row
  // (ItemsPropertiesUpdated), so a host keeps an open menu open; other rows make a new
  // layout, with items with their label (shown exactly as written), enabled flag,
  // check mark and separators. An item whose command the menu before had too keeps its
  // id, so a click on a menu the host drew before the change still counts. So does a
  // row without a command (a separator, the status) under the same command row: the
  // rows both menus have keep their order, and a host never has to move one (GNOME's
  // AppIndicator extension ignores moves, and would show rows out of order).
  void set(const Menu& menu);

  // When a host last opened the menu (AboutToShow, or the "opened" event).
  std::chrono::steady_clock::time_point last_opened() const { return last_opened_; }

 private:
  void replace_root(GObjectPtr<DbusmenuMenuitem> root);

  PickedCommands& picks_;
  GObjectPtr<DbusmenuServer> server_;
  GObjectPtr<DbusmenuMenuitem> root_;
  Menu shown_;
  // Each row's key, and the rows by key: by command; the rows without one by kind and
  // the command row above them.
  std::vector<std::string> keys_;
  std::map<std::string, GObjectPtr<DbusmenuMenuitem>> items_by_key_;
  std::chrono::steady_clock::time_point last_opened_{};
};

}  // namespace tallow::platform::posix
