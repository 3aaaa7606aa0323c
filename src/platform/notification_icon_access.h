#pragma once
// Tests' view inside a notification icon: what it was last given, whether the
// notification area holds it, and taking it out before it is destroyed. Each platform declares its own view as
// NotificationIconAccess::Platform in its own header.

#include <string>

#include "platform/notification_icon.h"

namespace tallow::platform {

struct NotificationIconAccess {
  static const Menu& menu(const NotificationIcon& icon);
  static const std::string& tooltip(const NotificationIcon& icon);
  static bool is_added(const NotificationIcon& icon);
  static void remove(NotificationIcon& icon);

  struct Platform;
};

}  // namespace tallow::platform
