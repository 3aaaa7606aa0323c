#pragma once
// The tray's event loop: carries menu commands out, shows the notices background
// tasks leave, keeps the icon, tooltip and menu in step with the agent, and ends once
// quitting has nothing left to wait for.

#include <cassert>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "tray/menu_model.h"
#include "tray/tray_host.h"
#include "tray/tray_snapshot.h"

namespace tallow {

// The longest the loop waits for events between two passes.
inline constexpr std::chrono::milliseconds kTrayInputWait{200};

// Where a computer enrolls when no hub is known yet.
inline constexpr std::string_view kDefaultHubUrl = "https://hub.tallowmere.net";

// What the failure hook is told when the tray has no icon to show, before the reason.
inline constexpr std::string_view kIconFailure = "failed to add the notification area icon: ";

// "tallowmered: " and the status label.
std::string tray_tooltip(const AgentStatus& status);

class TrayController {
 public:
  TrayController(TrayHost& host, const AgentControl& agent, IconPainter paint_icon,
                 std::chrono::milliseconds input_wait = kTrayInputWait)
      : host_(host), agent_(agent), paint_icon_(std::move(paint_icon)), input_wait_(input_wait) {
    assert(paint_icon_);
  }

  // Takes the first snapshot and gives what the tray shows for it, for start-up to
  // create the icon with; later passes rebuild only when a snapshot differs from it.
  // Without it, the first pass builds the tray.
  TrayLook first_look();

  // Runs passes until the loop ends.
  void run() {
    while (run_pass()) {
    }
  }
  // One pass; false when the loop has ended: a quit message was taken, or quitting
  // finds no agent child left. A notification area that gave up on the icon ends the
  // tray through the failure hook.
  bool run_pass();

 private:
  friend struct TrayControllerAccess;  // for tests

  void carry_out(std::string_view command);
  void open_web_ui();
  void request_enrollment();
  void toggle_launch_at_login();
  void quit();
  void show_notice();
  void refresh();
  TraySnapshot take_snapshot();
  TrayLook look_of(const TraySnapshot& snapshot) const;

  TrayHost& host_;
  const AgentControl& agent_;
  IconPainter paint_icon_;
  std::chrono::milliseconds input_wait_;
  std::optional<TraySnapshot> shown_;  // what the tray shows now
  bool quitting_ = false;
};

}  // namespace tallow
