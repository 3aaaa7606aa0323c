#pragma once
// The process's connection to the session bus, shared by the notification icon, its
// menu and the theme.

#include <gio/gio.h>

namespace tallow::platform::posix {

// The session bus, connected on first use (on the main thread) and kept for the life of
// the process; null when the session has none. Only the bus the session names is used:
// DBUS_SESSION_BUS_ADDRESS or $XDG_RUNTIME_DIR/bus. GLib would otherwise start a private
// bus of its own through dbus-launch, which nothing else in the session could reach.
GDBusConnection* session_bus();

}  // namespace tallow::platform::posix
