#include "platform/posix/session_bus.h"

#include <sys/stat.h>


#include "platform/environment.h"

namespace tallow::platform::posix {
namespace {

bool session_names_a_bus() {
  if (auto address = environment_variable("DBUS_SESSION_BUS_ADDRESS"); address && !address->empty()) {
    return true;
  }
  const auto runtime = environment_path("XDG_RUNTIME_DIR");
  if (!runtime || !runtime->is_absolute()) return false;
  struct stat status {};
  return ::stat((*runtime / "bus").c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

}  // namespace

GDBusConnection* session_bus() {
  // GLib's shared connection, the one libdbusmenu exports the menu on: the item and its
  // menu must have the same bus name. Should the bus go away, GLib raises SIGTERM,
  // which ends the tray in order: the session is ending anyway.
  static GDBusConnection* const connection =
      session_names_a_bus() ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr) : nullptr;
  return connection;
}

}  // namespace tallow::platform::posix
