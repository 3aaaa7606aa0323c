#include "platform/posix/icon/own_popup_menu.h"

#include <cstdio>

#include "platform/posix/display_session.h"
#include "platform/posix/dialog/dialog_protocol.h"

namespace tallow::platform::posix {
namespace {

// How long a host that was told the item is only a menu has to open it before the
// tray opens it itself.
constexpr std::chrono::milliseconds kHostMenuWait{300};

}  // namespace

void OwnPopupMenu::clicked() {
  // Wayland gives no program a place on the screen of its own choosing.
  if (!own_popup_possible(current_display_session())) return;
  popup_.reset();
  clicked_at_ = std::chrono::steady_clock::now();
  host_wait_timer_ = main_context_once(kHostMenuWait, [this] {
    if (host_menu_.last_opened() < clicked_at_) open();
  });
}

void OwnPopupMenu::open() {
  std::vector<std::string> arguments{std::string(kPopupMode)};
  for (std::string& row : popup_row_arguments(menu_)) arguments.push_back(std::move(row));
  // Picks are taken from the menu as it was opened, whatever has replaced it since.
  auto started = HelperRun::start(arguments, [shown = menu_, &picks = picks_](const HelperOutcome& outcome) {
    if (outcome.exit_status != kPopupPicked) return;
    const auto row = popup_pick_from_text(outcome.output, shown.size());
    if (!row) return;
    if (const auto command = shown[*row].picked_command()) picks.add(*command);
  });
  if (started) {
    popup_ = std::move(started).value();
  } else if (!told_failure_) {
    // Said once: every later click would say the same.
    told_failure_ = true;
    std::fprintf(stderr, "tallowmered: the menu cannot be shown: %s\n", started.error().message.c_str());
  }
}

}  // namespace tallow::platform::posix
