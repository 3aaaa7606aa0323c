#pragma once
// The desktop's colour scheme as the desktop portal tells it: read once, asynchronously,
// when first asked for, then followed through SettingChanged; unknown while the portal
// has not said. Asking only reads the kept answer; no call is made on the bus then.

#include <gio/gio.h>

#include <optional>

namespace tallow::platform::posix {

class PortalTheme {
 public:
  // Subscribes to the setting's changes and reads it, for a moment at once (so that the
  // first picture has the right colour), else in the background. Lives as long as the
  // process: the pending read and the subscription point at it.
  PortalTheme();
  PortalTheme(const PortalTheme&) = delete;
  PortalTheme& operator=(const PortalTheme&) = delete;

  bool light() const { return light_; }
  bool known() const { return known_; }

  // What a value of org.freedesktop.appearance "color-scheme" says: true for 2 (prefer
  // light), false for 1 (prefer dark) and 0 (no preference); none when it is no such
  // value. Variants wrapped in variants (as Settings.Read returns them) are unwrapped.
  static std::optional<bool> is_light_value(GVariant* value);

 private:
  static void on_read(GObject* source, GAsyncResult* result, gpointer data);
  void take_reply(GVariant* reply);
  void take(GVariant* value);
  static void on_setting_changed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                 GVariant* parameters, gpointer data);

  bool changed_ = false;
  bool known_ = false;
  bool light_ = false;
};

}  // namespace tallow::platform::posix
