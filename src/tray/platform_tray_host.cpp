#include "tray/platform_tray_host.h"

#include "platform/environment.h"
#include "platform/main_loop.h"
#include "platform/theme.h"

namespace tallow {

Result<bool> PlatformTrayHost::drain_messages() {
  const bool drained = platform::dispatch_pending_events() == platform::PumpResult::drained;
  if (std::optional<Error> failure = icon_ ? icon_->add_failure() : std::nullopt) return *std::move(failure);
  return drained;
}

void PlatformTrayHost::wait_for_input(std::chrono::milliseconds limit) {
  const bool every_change_wakes = platform::changes_wake_main_loop() && autostart_watch_.keep_watching();
  platform::wait_for_events(every_change_wakes ? platform::kUnboundedInputWait : limit);
}

Result<void> PlatformTrayHost::show(const TrayLook& look) {
  if (!icon_) {
    auto icon = platform::NotificationIcon::create(look.menu, look.icon, look.tooltip, icon_timing_);
    if (!icon) return icon.error();
    icon_.emplace(std::move(icon).value());
    return {};
  }
  std::string refused;
  const auto note = [&refused](const char* part, const Result<void>& result) {
    if (result) return;
    refused += (refused.empty() ? "" : "; ") + std::string(part) + ": " + result.error().message;
  };
  note("the menu", icon_->set_menu(look.menu));
  note("the picture", icon_->set_picture(look.icon));
  note("the tooltip", icon_->set_tooltip(look.tooltip));
  if (!refused.empty()) return Error{std::move(refused)};
  return {};
}

Result<void> PlatformTrayHost::toggle_launch_at_login() {
  // Switching off needs no path, so it works even when the path cannot be told.
  if (platform::is_autostart_enabled()) return platform::disable_autostart();
  auto program = platform::executable_path_or_error();
  if (!program) return program.error();
  return platform::enable_autostart(program.value());
}

std::optional<bool> PlatformTrayHost::light_theme() {
  // A panel the icon has seen comes before the desktop's look, which describes windows.
  if (const std::optional<bool> panel = icon_ ? icon_->panel_light() : std::nullopt) return panel;
  if (!platform::is_theme_known()) return std::nullopt;
  return platform::is_light_theme();
}

}  // namespace tallow
