#pragma once
// The Win32 side of the notification icon that tests and test tools reach: the names the
// shell and other processes see, and a way to put a stand-in between the icon and the shell.

#include <windows.h>
#include <shellapi.h>

#include <functional>

#include "platform/notification_icon_access.h"

namespace tallow::platform {
namespace win32 {

// The class of each icon's hidden top-level window, which the shell's notices reach.
inline constexpr wchar_t kNotificationIconClass[] = L"tallowmereNotificationIcon";
// The message the shell sends that window about clicks on the icon, and the icon's id.
inline constexpr UINT kNotificationIconMessage = WM_APP + 1;
inline constexpr UINT kNotificationIconId = 1;

// Shell_NotifyIconW, or a stand-in for it.
using ShellNotify = std::function<BOOL(DWORD message, NOTIFYICONDATAW* data)>;

}  // namespace win32

struct NotificationIconAccess::Platform {
  // NotificationIcon::create with every Shell_NotifyIconW call going to `shell_notify`.
  static Result<NotificationIcon> create(Menu menu, IconPicture picture,
                                         std::string_view tooltip, NotificationIconTiming timing,
                                         win32::ShellNotify shell_notify);
  static HWND window(const NotificationIcon& icon);
  static HICON icon(const NotificationIcon& icon);
  static HMENU menu(const NotificationIcon& icon);
  // Whether the shell took NOTIFYICON_VERSION_4, and so reports clicks the modern way.
  static bool uses_version_4(const NotificationIcon& icon);
  // True while refused adds are being retried.
  static bool retrying(const NotificationIcon& icon);
};

}  // namespace tallow::platform
