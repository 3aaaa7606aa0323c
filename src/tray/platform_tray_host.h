#pragma once
// The tray controller's desktop, made of the platform layer's pieces: the notification
// icon and the commands picked from its menu, the thread's main loop, the session control,
// message boxes, the shell, the input dialog, Launch at Login and the theme.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/autostart.h"
#include "platform/desktop.h"
#include "platform/dialog.h"
#include "platform/notification_icon.h"
#include "platform/session_control.h"
#include "tray/tray_host.h"

namespace tallow {

class PlatformTrayHost final : public TrayHost {
 public:
  explicit PlatformTrayHost(platform::NotificationIconTiming icon_timing = {})
      : icon_timing_(icon_timing), autostart_watch_(platform::AutostartWatch::start()) {}

  // From now on close requests come from `session`, which must outlive the host.
  void listen_to(const platform::SessionControl& session) { session_ = &session; }
  // Takes the icon out of the notification area.
  void remove_icon() { icon_.reset(); }

  Result<bool> drain_messages() override;
  // Picks made while an earlier command's dialog was open wait behind it in the icon.
  std::optional<std::string> next_command() override { return icon_ ? icon_->next_picked_command() : std::nullopt; }
  bool close_requested() override { return session_ && session_->close_requested(); }
  // Waits without a bound while everything the tray shows ends the wait when it changes
  // (the agent's record through platform::wake_main_loop); `limit` bounds it only where
  // something cannot tell: on Windows always, on Linux while the system refuses a watch
  // on the Launch at Login entry.
  void wait_for_input(std::chrono::milliseconds limit) override;

  // The first look creates the icon and asks the notification area to add it; it fails
  // only when no icon can exist at all.
  Result<void> show(const TrayLook& look) override;

  void show_message(std::string_view caption, std::string_view text, bool is_error) override {
    platform::show_message(caption, text, is_error);
  }
  void open_with_shell(std::string_view target) override { platform::open_with_shell(target); }
  std::optional<std::string> ask_text(std::string_view caption, std::string_view prompt, std::string_view hint,
                                      std::string_view accept_label) override {
    return platform::ask_text(caption, prompt, hint, accept_label);
  }

  bool launch_at_login() override { return platform::is_autostart_enabled(); }
  Result<void> toggle_launch_at_login() override;
  std::optional<bool> light_theme() override;

 private:
  const platform::SessionControl* session_ = nullptr;
  platform::NotificationIconTiming icon_timing_;
  std::optional<platform::NotificationIcon> icon_;
  // Kept for the host's life: Launch at Login changed by hand shows without a poll.
  platform::AutostartWatch autostart_watch_;
};

}  // namespace tallow
