#include "tray/tray_controller.h"

#include <utility>

#include "common/failure.h"
#include "common/text.h"
#include "agent/enrollment.h"
#include "agent/enrollment_input.h"
#include "platform/environment.h"

namespace tallow {

std::string tray_tooltip(const AgentStatus& status) { return "tallowmered: " + status_label(status); }

TrayLook TrayController::first_look() {
  shown_ = take_snapshot();
  return look_of(*shown_);
}

bool TrayController::run_pass() {
  const Result<bool> drained = host_.drain_messages();
  // The notification area had its time to take the icon: a tray nobody can see is no tray.
  if (!drained) fail(std::string(kIconFailure) + drained.error().message);
  // A quit message ends the loop as it stands; the agent is left running.
  if (!drained.value()) return false;

  // Taken one at a time, so a command picked while an earlier one's dialog was open
  // still runs in this pass, after it.
  while (const std::optional<std::string> command = host_.next_command()) {
    carry_out(*command);
  }

  if (host_.close_requested() && !quitting_) quit();

  show_notice();
  refresh();

  if (quitting_ && !agent_.has_child()) return false;
  host_.wait_for_input(input_wait_);
  return true;
}

void TrayController::carry_out(std::string_view command) {
  if (command == tray_command::kStop) {
    agent_.stop();
  } else if (command == tray_command::kRestart) {
    agent_.restart();
  } else if (command == tray_command::kStart) {
    agent_.start();
  } else if (command == tray_command::kWeb) {
    open_web_ui();
  } else if (command == tray_command::kEnroll) {
    request_enrollment();
  } else if (command == tray_command::kLog) {
    // The path's own bytes: on Linux a file name need not be UTF-8, and a replaced byte
    // would name another file; on Windows this is the same text as path_text.
    host_.open_with_shell(platform::path_argument(agent_.log_path()));
  } else if (command == tray_command::kState) {
    host_.open_with_shell(platform::path_argument(agent_.state_directory()));
  } else if (command == tray_command::kLogin) {
    toggle_launch_at_login();
  } else if (command == tray_command::kQuit) {
    quit();
  }
  // Any other identifier is not one of ours and is ignored.
}

void TrayController::open_web_ui() {
  // The hub URL comes from config.json, which anything running as the user can
  // rewrite; handed to the shell unchecked, a path or another scheme would start a
  // program or open a share instead of a page.
  const std::optional<std::string> hub_url = agent_.hub_url();
  if (hub_url && is_web_url(*hub_url)) host_.open_with_shell(*hub_url);
}

void TrayController::request_enrollment() {
  const std::optional<std::string> text =
      host_.ask_text("Enroll this computer", "Paste the command the hub's web UI shows, or just its code.",
                     "tallowmered enroll \u2026 --hub=\u2026", "Enroll");
  if (!text) return;
  const std::string default_hub = agent_.hub_url().value_or(std::string(kDefaultHubUrl));
  const std::optional<EnrollmentRequest> request = parse_enrollment_input(*text, default_hub);
  if (!request) {
    host_.show_message(kEnrollmentFailedCaption,
                       "No enrollment code in \u201C" + std::string(trim_white_space(*text)) + "\u201D.",
                       true);
    return;
  }
  agent_.enroll(request->code, request->hub);
}

void TrayController::toggle_launch_at_login() {
  const Result<void> toggled = host_.toggle_launch_at_login();
  // On success the check mark follows through the next snapshot.
  if (!toggled) host_.show_message("Could not change Launch at Login", toggled.error().message, true);
}

void TrayController::quit() {
  // Stops every time it is picked: a second stop is how a user insists.
  agent_.stop();
  quitting_ = true;
}

void TrayController::show_notice() {
  const std::optional<Notice> notice = agent_.take_notice();
  if (notice) host_.show_message(notice->caption, notice->text, notice->caption != kEnrolledCaption);
}

void TrayController::refresh() {
  TraySnapshot snapshot = take_snapshot();
  if (shown_ == snapshot) return;
  // Only a look the notification area took counts as shown: one it refused (a busy
  // shell at logon) is offered again on the next pass, and the icon sends only the parts
  // it has not shown yet.
  if (host_.show(look_of(snapshot))) shown_ = std::move(snapshot);
}

TraySnapshot TrayController::take_snapshot() {
  TraySnapshot snapshot;
  // Separate reads of the supervisor's record; nothing relies on them agreeing.
  snapshot.status = agent_.status();
  snapshot.hub_url = agent_.hub_url();
  snapshot.hub_connected = agent_.hub_connected();
  snapshot.launch_at_login = host_.launch_at_login();
  snapshot.light_theme = host_.light_theme();
  return snapshot;
}

TrayLook TrayController::look_of(const TraySnapshot& snapshot) const {
  return {build_tray_menu(snapshot), paint_icon_(snapshot.status, snapshot.light_theme),
          tray_tooltip(snapshot.status)};
}

}  // namespace tallow
