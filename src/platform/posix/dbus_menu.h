#pragma once
// The notification item's menu, exported as com.canonical.dbusmenu through libdbusmenu:
// the host draws it and reports clicks, which go onto the queue of picked commands.

#include <libdbusmenu-glib/server.h>

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
  void set(const Menu& menu);

  // Asks the host to open the menu, for hosts that leave that to the item.
  void show_to_user(guint timestamp);

 private:
  GObjectPtr<DbusmenuServer> server_;
  GObjectPtr<DbusmenuMenuitem> root_;
  std::map<std::string, GObjectPtr<DbusmenuMenuitem>> items_by_command_;
};

}  // namespace tallow::platform::posix
