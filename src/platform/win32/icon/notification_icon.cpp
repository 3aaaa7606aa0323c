// The notification icon over Shell_NotifyIconW: a hidden top-level window receives the
// shell's notices about the icon (clicks, a re-created taskbar) and owns the icon, its
// popup menu and the timer that retries a refused add.

#include "platform/notification_icon.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "platform/notification_icon_access.h"
#include "platform/notification_text.h"
#include "platform/os_error.h"
#include "platform/win32/icon/icon_handle.h"
#include "platform/win32/icon/notification_icon_win32.h"
#include "platform/win32/icon/popup_menu.h"
#include "platform/win32/owner_window.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::platform {
namespace {

using namespace win32;
using Clock = std::chrono::steady_clock;

constexpr UINT_PTR kRetryTimer = 1;

// Explorer broadcasts this when it (re)starts; icons added before are gone then.
UINT taskbar_created_message() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

}  // namespace

struct NotificationIcon::Impl {
  using Stage = IconAddRetry::Stage;

  Impl(ShellNotify notify, NotificationIconTiming retry_timing)
      : shell_notify(std::move(notify)), timing(retry_timing), retry(retry_timing) {}

  ~Impl() {
    remove();
    // Messages sent while the window is destroyed must not reach this half-gone object.
    if (window) win32::detach_owner(window.get());
    window.reset();
  }

  std::optional<LRESULT> handle(UINT message, WPARAM wparam, LPARAM lparam);

  Result<void> set_menu(Menu items);
  Result<void> set_picture(const IconPicture& picture);
  Result<void> set_tooltip(std::string_view text);
  NOTIFYICONDATAW data(UINT flags) const;
  Result<void> modify(UINT flags);

  void start_adding();
  bool try_add();
  void retry_add();
  void remove();
  void on_notification(WPARAM wparam, LPARAM lparam);
  void open_menu(POINT at);

  ShellNotify shell_notify;
  NotificationIconTiming timing;
  ScopedWindow window;
  ScopedIcon icon;
  // What the shell took, as opposed to what it is sent next: a refused part is sent
  // again with the next look instead of being skipped as unchanged.
  std::optional<IconImage> image_shown;
  std::optional<std::string> tooltip_shown;
  // Shared with an open menu, which keeps the one the user sees alive through a set_menu.
  std::shared_ptr<const PopupMenu> popup;
  Menu menu;
  PickedCommands picks;
  std::string tooltip;
  std::u16string tooltip_units;

  IconAddRetry retry;
  bool version_4 = false;
  bool menu_open = false;
  DWORD last_add_error = 0;
};

std::optional<LRESULT> NotificationIcon::Impl::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == taskbar_created_message()) {
    start_adding();
    return 0;
  }
  switch (message) {
    case kNotificationIconMessage:
      on_notification(wparam, lparam);
      return 0;
    case WM_TIMER:
      if (wparam != kRetryTimer) return std::nullopt;
      retry_add();
      return 0;
    case WM_CLOSE:
      // Only the owner ends this window: closing it would orphan the icon.
      return 0;
    default:
      return std::nullopt;
  }
}

Result<void> NotificationIcon::Impl::set_menu(Menu items) {
  auto built = PopupMenu::build(items);
  if (!built) return built.error();
  popup = std::make_shared<const PopupMenu>(std::move(built.value()));
  menu = std::move(items);
  return {};
}

// An unchanged image or tooltip is not sent again: the shell would redraw the icon for
// nothing, and the tray passes on every look it is given.
Result<void> NotificationIcon::Impl::set_picture(const IconPicture& picture) {
  if (auto checked = check_icon_picture(picture); !checked) return checked;
  // The notification area shows one image, at the one size the tray paints here.
  const IconImage& image = picture.images.front();
  if (image == image_shown) return {};
  auto made = create_icon_from_rgba(image);
  if (!made) return made.error();
  // The old icon goes only after the shell has been handed the new one.
  const ScopedIcon old = std::exchange(icon, std::move(made.value()));
  auto sent = modify(NIF_ICON);
  image_shown = sent ? std::optional(image) : std::nullopt;
  return sent;
}

Result<void> NotificationIcon::Impl::set_tooltip(std::string_view text) {
  if (text == tooltip_shown) return {};
  tooltip = std::string(text);
  tooltip_units = tooltip_text(text);
  auto sent = modify(NIF_TIP | NIF_SHOWTIP);
  tooltip_shown = sent ? std::optional(tooltip) : std::nullopt;
  return sent;
}

NOTIFYICONDATAW NotificationIcon::Impl::data(UINT flags) const {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = window.get();
  data.uID = kNotificationIconId;
  data.uFlags = flags;
  data.uCallbackMessage = kNotificationIconMessage;
  data.hIcon = icon.get();
  // tooltip_text left room for the terminating NUL, which the zeroed buffer holds.
  static_assert(sizeof(data.szTip) / sizeof(data.szTip[0]) == kTooltipUnits + 1);
  std::copy(tooltip_units.begin(), tooltip_units.end(), data.szTip);
  return data;
}

Result<void> NotificationIcon::Impl::modify(UINT flags) {
  // Before the add succeeds the values are only kept; the add shows the latest.
  if (retry.stage() != Stage::added) return {};
  NOTIFYICONDATAW update = data(flags);
  SetLastError(0);
  if (shell_notify(NIM_MODIFY, &update)) return {};
  const DWORD error = GetLastError();
  return error != 0 ? os_error(error) : Error{"the notification area refused the change"};
}

void NotificationIcon::Impl::start_adding() {
  // A removed icon, or one the shell gave up on for good, is not added again.
  if (!retry.begin(Clock::now())) return;
  if (try_add()) return;
  const auto interval = std::clamp<std::chrono::milliseconds::rep>(
      timing.retry_interval.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  SetTimer(window.get(), kRetryTimer, static_cast<UINT>(interval), nullptr);
}

bool NotificationIcon::Impl::try_add() {
  NOTIFYICONDATAW add = data(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
  SetLastError(0);
  bool added = shell_notify(NIM_ADD, &add);
  last_add_error = GetLastError();
  // The shell may still hold an icon under this window and id: after a "TaskbarCreated"
  // that did not come from a new shell, or one left by an ended program whose window
  // handle this window now has (Wine hands handles out again). It refuses the add then;
  // bringing that icon up to date makes it ours.
  if (!added) added = shell_notify(NIM_MODIFY, &add);
  if (!added) return false;
  // Version 4: the shell reports a left click as NIN_SELECT and a right click as
  // WM_CONTEXTMENU, with the point to open the menu at, and the keyboard reaches it too.
  add.uVersion = NOTIFYICON_VERSION_4;
  version_4 = shell_notify(NIM_SETVERSION, &add);
  retry.added();
  KillTimer(window.get(), kRetryTimer);
  return true;
}

void NotificationIcon::Impl::retry_add() {
  if (retry.stage() == Stage::adding && try_add()) return;
  const std::string reason = last_add_error != 0 ? os_error_text(last_add_error) : std::string();
  if (!retry.refused(Clock::now(), reason)) KillTimer(window.get(), kRetryTimer);
}

void NotificationIcon::Impl::remove() {
  if (retry.stage() == Stage::removed) return;
  if (window) KillTimer(window.get(), kRetryTimer);
  if (retry.stage() == Stage::added) {
    NOTIFYICONDATAW removal = data(0);
    shell_notify(NIM_DELETE, &removal);
  }
  retry.remove();
}

void NotificationIcon::Impl::on_notification(WPARAM wparam, LPARAM lparam) {
  const UINT event = LOWORD(lparam);
  if (version_4) {
    // The shell sends the button messages as well; answering those too would open the
    // menu twice. The point to open at comes with the notice.
    if (event == NIN_SELECT || event == NIN_KEYSELECT || event == WM_CONTEXTMENU) {
      open_menu({static_cast<short>(LOWORD(wparam)), static_cast<short>(HIWORD(wparam))});
    }
  } else if (event == WM_LBUTTONUP || event == WM_RBUTTONUP) {
    POINT at{};
    GetCursorPos(&at);
    open_menu(at);
  }
}

void NotificationIcon::Impl::open_menu(POINT at) {
  // A second notice while the menu is open would start a menu inside the menu.
  if (menu_open || !popup) return;
  const std::shared_ptr<const PopupMenu> shown = popup;
  menu_open = true;
  const std::optional<std::string> command = shown->show(window.get(), at);
  menu_open = false;
  if (command) picks.add(*command);
}

NotificationIcon::NotificationIcon(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NotificationIcon::NotificationIcon(NotificationIcon&&) noexcept = default;
NotificationIcon& NotificationIcon::operator=(NotificationIcon&&) noexcept = default;
NotificationIcon::~NotificationIcon() = default;

Result<NotificationIcon> NotificationIcon::create(Menu menu, IconPicture picture,
                                                  std::string_view tooltip,
                                                  NotificationIconTiming timing) {
  return NotificationIconAccess::Platform::create(std::move(menu), std::move(picture), tooltip, timing,
                                                  &Shell_NotifyIconW);
}

Result<void> NotificationIcon::set_menu(Menu menu) { return impl_->set_menu(std::move(menu)); }
Result<void> NotificationIcon::set_picture(IconPicture picture) { return impl_->set_picture(picture); }
Result<void> NotificationIcon::set_tooltip(std::string_view tooltip) { return impl_->set_tooltip(tooltip); }
std::optional<Error> NotificationIcon::add_failure() const { return impl_->retry.failure(); }
std::optional<std::string> NotificationIcon::next_picked_command() { return impl_->picks.take_oldest(); }
std::optional<bool> NotificationIcon::panel_light() const { return std::nullopt; }

const Menu& NotificationIconAccess::menu(const NotificationIcon& icon) { return icon.impl_->menu; }
const std::string& NotificationIconAccess::tooltip(const NotificationIcon& icon) { return icon.impl_->tooltip; }
bool NotificationIconAccess::is_added(const NotificationIcon& icon) {
  return icon.impl_->retry.stage() == NotificationIcon::Impl::Stage::added;
}
void NotificationIconAccess::remove(NotificationIcon& icon) { icon.impl_->remove(); }

Result<NotificationIcon> NotificationIconAccess::Platform::create(Menu menu, IconPicture picture,
                                                                  std::string_view tooltip,
                                                                  NotificationIconTiming timing,
                                                                  ShellNotify shell_notify) {
  auto impl = std::make_unique<NotificationIcon::Impl>(std::move(shell_notify), timing);
  // Everything is in place before the window exists, so no notice finds it half made.
  if (auto made = impl->set_menu(std::move(menu)); !made) return made.error();
  if (auto made = impl->set_picture(picture); !made) return made.error();
  if (auto made = impl->set_tooltip(tooltip); !made) return made.error();
  auto window = create_owner_window(kNotificationIconClass, impl.get());
  if (!window) return window.error();
  impl->window = std::move(window).value();
  // A process running with higher integrity than Explorer would otherwise never hear
  // its broadcast, nor its notices about the icon.
  ChangeWindowMessageFilterEx(impl->window.get(), taskbar_created_message(), MSGFLT_ALLOW, nullptr);
  ChangeWindowMessageFilterEx(impl->window.get(), kNotificationIconMessage, MSGFLT_ALLOW, nullptr);
  impl->start_adding();
  return NotificationIcon(std::move(impl));
}

HWND NotificationIconAccess::Platform::window(const NotificationIcon& icon) { return icon.impl_->window.get(); }
HICON NotificationIconAccess::Platform::icon(const NotificationIcon& icon) { return icon.impl_->icon.get(); }
HMENU NotificationIconAccess::Platform::menu(const NotificationIcon& icon) {
  return icon.impl_->popup ? icon.impl_->popup->handle() : nullptr;
}
bool NotificationIconAccess::Platform::uses_version_4(const NotificationIcon& icon) { return icon.impl_->version_4; }
bool NotificationIconAccess::Platform::retrying(const NotificationIcon& icon) {
  return icon.impl_->retry.stage() == IconAddRetry::Stage::adding;
}

}  // namespace tallow::platform
