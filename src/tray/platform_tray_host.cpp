#include "tray/platform_tray_host.h"

#include "common/failure.h"
#include "platform/desktop.h"
#include "platform/dialog.h"
#include "platform/message_loop.h"
#include "platform/theme.h"
#include "tray/launch_at_login.h"

namespace tallow {
namespace {

platform::RgbaPixels pixels_of(const platform::IconImage& image) {
  return {image.width, image.height, image.rgba};
}

platform::NotificationMenuItem::Kind item_kind(MenuEntry::Kind kind) {
  switch (kind) {
    case MenuEntry::Kind::text: return platform::NotificationMenuItem::Kind::text;
    case MenuEntry::Kind::check: return platform::NotificationMenuItem::Kind::check;
    case MenuEntry::Kind::separator: return platform::NotificationMenuItem::Kind::separator;
  }
  return platform::NotificationMenuItem::Kind::separator;
}

}  // namespace

platform::NotificationMenu notification_menu(const TrayMenu& menu) {
  platform::NotificationMenu items;
  items.reserve(menu.size());
  for (const MenuEntry& entry : menu) {
    items.push_back({item_kind(entry.kind), entry.text, entry.enabled, entry.checked, entry.command});
  }
  return items;
}

PlatformTrayHost::PlatformTrayHost(platform::NotificationIconTiming icon_timing)
    : icon_timing_(icon_timing) {}

Result<void> PlatformTrayHost::show_icon(const TrayLook& look) {
  auto icon = platform::NotificationIcon::create(notification_menu(look.menu), pixels_of(look.icon),
                                                 look.tooltip, icon_timing_);
  if (!icon) return icon.error();
  icon_.emplace(std::move(icon).value());
  return {};
}

bool PlatformTrayHost::drain_messages() {
  const bool drained = platform::dispatch_window_messages() == platform::PumpResult::drained;
  // The shell had a minute to take the icon; a tray nobody can see is no tray.
  if (icon_) {
    if (auto failure = icon_->add_failure()) {
      fail("failed to add the notification area icon: " + failure->message);
    }
  }
  return drained;
}

std::optional<std::string> PlatformTrayHost::next_command() {
  // Picks made while an earlier command's dialog was open join the end of the line.
  for (std::string& command : platform::take_picked_commands()) commands_.push_back(std::move(command));
  if (commands_.empty()) return std::nullopt;
  std::string command = std::move(commands_.front());
  commands_.pop_front();
  return command;
}

bool PlatformTrayHost::close_requested() { return session_ && session_->close_requested(); }

void PlatformTrayHost::wait_for_input(std::chrono::milliseconds limit) {
  platform::wait_for_window_input(limit);
}

void PlatformTrayHost::set_menu(const TrayMenu& menu) {
  if (icon_) (void)icon_->set_menu(notification_menu(menu));
}

Result<void> PlatformTrayHost::set_icon(const platform::IconImage& image) {
  if (!icon_) return {};
  return icon_->set_image(pixels_of(image));
}

Result<void> PlatformTrayHost::set_tooltip(std::string_view text) {
  if (!icon_) return {};
  return icon_->set_tooltip(text);
}

void PlatformTrayHost::show_message(std::string_view caption, std::string_view text, bool is_error) {
  platform::show_message(caption, text, is_error);
}

void PlatformTrayHost::open_with_shell(std::string_view target) { platform::open_with_shell(target); }

std::optional<std::string> PlatformTrayHost::ask_text(std::string_view caption, std::string_view prompt,
                                                      std::string_view hint,
                                                      std::string_view accept_label) {
  return platform::ask_text(caption, prompt, hint, accept_label);
}

bool PlatformTrayHost::launch_at_login() { return is_launch_at_login_enabled(); }

Result<void> PlatformTrayHost::toggle_launch_at_login() { return tallow::toggle_launch_at_login(); }

bool PlatformTrayHost::light_theme() { return platform::is_light_theme(); }

}  // namespace tallow
