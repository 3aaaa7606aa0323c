// The unit tests touch no desktop: without a display or a session bus, message boxes
// go to standard error, dialogs answer none and the notification icon keeps its values
// without showing anywhere. The desktop tests run the real thing in processes of
// their own.

#include <stdlib.h>

#include <initializer_list>

namespace {

const bool kNoDesktop = [] {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"}) {
    ::unsetenv(name);
  }
  return true;
}();

}  // namespace
