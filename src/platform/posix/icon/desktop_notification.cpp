#include "platform/posix/icon/desktop_notification.h"

namespace tallow::platform::posix {

void send_desktop_notification(GDBusConnection* bus, const std::string& body) {
  if (!bus) return;
  // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout):
  // a new bubble, no actions, and the server's own timeout.
  g_dbus_connection_call(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                         "org.freedesktop.Notifications", "Notify",
                         g_variant_new("(susss@as@a{sv}i)", "tallowmered", 0u, "tallowmere-tray", "tallowmered",
                                       body.c_str(), g_variant_new_strv(nullptr, 0),
                                       g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0), -1),
                         G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

}  // namespace tallow::platform::posix
