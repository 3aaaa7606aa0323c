#pragma once
// The tray's own popup menu, for hosts that pass a click on to the item and show no menu
// themselves (LXQt, MATE): unless the host opens the item's menu within a moment of the
// click, tallowmere-dialog pops the same menu up at the pointer, and the picked row's
// command joins the icon's picks.

#include <chrono>
#include <memory>

#include "platform/menu.h"
#include "platform/posix/dialog/dialog_helper.h"
#include "platform/posix/icon/dbus_menu.h"
#include "platform/posix/glib_ptr.h"

namespace tallow::platform::posix {

class OwnPopupMenu {
 public:
  // `menu` is the menu as it is at any time, `host_menu` its copy that hosts open
  // themselves; `picks` takes the rows picked. All three must outlive the popup.
  OwnPopupMenu(const Menu& menu, const DbusMenu& host_menu, PickedCommands& picks)
      : menu_(menu), host_menu_(host_menu), picks_(picks) {}
  OwnPopupMenu(const OwnPopupMenu&) = delete;
  OwnPopupMenu& operator=(const OwnPopupMenu&) = delete;

  // A click the host passed on. A popup still open from an earlier click goes: whatever
  // became of it (shown, or never shown for a grab another program held), this click
  // is the one the user waits on.
  void clicked();

 private:
  void open();

  const Menu& menu_;
  const DbusMenu& host_menu_;
  PickedCommands& picks_;
  std::chrono::steady_clock::time_point clicked_at_{};
  GSourcePtr host_wait_timer_;
  std::unique_ptr<HelperRun> popup_;
  bool told_failure_ = false;
};

}  // namespace tallow::platform::posix
