#pragma once
// The tray program from start to end: one per logon session, the agent started once,
// the event loop, and an orderly teardown.

#include <chrono>

#include "agent/supervisor.h"
#include "platform/notification_icon.h"
#include "tray/tray_controller.h"

namespace tallow {

inline constexpr std::string_view kAlreadyRunningCaption = "tallowmered";
inline constexpr std::string_view kAlreadyRunningText = "tallowmered is already in the notification area.";
inline constexpr std::string_view kFailureCaption = "tallowmered stopped working";

// The product's pace; tests shorten it.
struct TrayAppTimings {
  // The loop's bound on Windows, where changes do not end its wait by themselves.
  std::chrono::milliseconds input_wait = kTrayInputWait;
  platform::NotificationIconTiming icon;
  SupervisorTimings supervisor;
};

// Runs the tray and returns the process's exit status: 0 after the loop ends and after
// the already-running message. An unrecoverable failure on the way ends the process
// with 101 instead.
int run_tray_app(const TrayAppTimings& timings = {});

}  // namespace tallow
