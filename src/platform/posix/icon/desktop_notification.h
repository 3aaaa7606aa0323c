#pragma once
// A message in the desktop's notification bubbles (org.freedesktop.Notifications), for
// what the user should know while the tray has nowhere to show itself.

#include <gio/gio.h>

#include <string>

namespace tallow::platform::posix {

struct DesktopNotification {
  std::string app_name;
  std::string icon;     // a themed icon's name
  std::string summary;
  std::string body;
};

// Sends `notification` on `bus` and returns at once; a session without a notification
// service simply shows nothing.
void send_desktop_notification(GDBusConnection* bus, const DesktopNotification& notification);

}  // namespace tallow::platform::posix
