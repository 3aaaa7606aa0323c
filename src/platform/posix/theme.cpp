// The light or dark look on Linux: the desktop portal's colour scheme. The XEmbed tray an
// icon is docked in, once seen, comes before it (NotificationIcon::panel_light).

#include "platform/theme.h"

#include "platform/posix/portal_theme.h"

namespace tallow::platform {
namespace {

const posix::PortalTheme& portal_theme() {
  // Made on the main thread's first pass and never destroyed: the bus may still
  // deliver to it while the process ends.
  static const posix::PortalTheme* const theme = new posix::PortalTheme();
  return *theme;
}

}  // namespace

bool is_light_theme() { return portal_theme().light(); }

bool is_theme_known() { return portal_theme().known(); }

}  // namespace tallow::platform
