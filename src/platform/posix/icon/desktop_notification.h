#pragma once
// A message in the desktop's notification bubbles (org.freedesktop.Notifications), for
// what the user should know while the tray has nowhere to show itself.

#include <gio/gio.h>

#include <string>

namespace tallow::platform::posix {

// Sends `body` on `bus` as a bubble from tallowmered, with the tray's icon, and returns
// at once; a session without a notification service simply shows nothing.
void send_desktop_notification(GDBusConnection* bus, const std::string& body);

}  // namespace tallow::platform::posix
