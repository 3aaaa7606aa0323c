#pragma once
// The tray's own popup menu, for hosts that pass a click on to the item and show no menu
// themselves (LXQt, MATE): unless the host opens the item's menu within a moment of the
// click, tallowmere-dialog pops the same menu up at the pointer, and the picked row's
// command joins the icon's picks.

#include <chrono>
#include <functional>
#include <memory>

#include "platform/menu.h"
#include "platform/posix/dialog/dialog_helper.h"
#include "platform/posix/glib_ptr.h"

namespace tallow::platform::posix {

class OwnPopupMenu {
 public:
  using Clock = std::chrono::steady_clock;

  // `menu` gives the menu as it is now; `host_opened` when a host last opened the
  // item's menu itself; `picks`, which must outlive the popup, takes the rows picked.
  OwnPopupMenu(std::function<const Menu&()> menu, std::function<Clock::time_point()> host_opened,
               std::chrono::milliseconds host_wait, PickedCommands& picks);
  ~OwnPopupMenu() = default;
  OwnPopupMenu(const OwnPopupMenu&) = delete;
  OwnPopupMenu& operator=(const OwnPopupMenu&) = delete;

  // A click the host passed on. A popup still open from an earlier click goes: whatever
  // became of it (shown, or never shown for a grab another program held), this click
  // is the one the user waits on.
  void clicked();

 private:
  void open();

  std::function<const Menu&()> menu_;
  std::function<Clock::time_point()> host_opened_;
  std::chrono::milliseconds host_wait_;
  PickedCommands& picks_;
  Clock::time_point clicked_at_{};
  GSourcePtr host_wait_timer_;
  std::unique_ptr<HelperRun> popup_;
  bool told_failure_ = false;
};

}  // namespace tallow::platform::posix
