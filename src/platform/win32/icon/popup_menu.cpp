#include "platform/win32/icon/popup_menu.h"

#include "platform/notification_text.h"
#include "platform/os_error.h"
#include "platform/win32/wide_text.h"

namespace tallow::platform::win32 {

Result<PopupMenu> PopupMenu::build(const Menu& items) {
  ScopedMenu menu(CreatePopupMenu());
  if (!menu) return last_os_error();
  std::vector<std::optional<std::string>> commands;
  commands.reserve(items.size());
  for (const MenuItem& item : items) {
    const UINT_PTR id = commands.size() + 1;
    commands.emplace_back(item.picked_command());
    BOOL appended;
    if (item.kind == MenuItem::Kind::separator) {
      appended = AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    } else {
      UINT flags = MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED);
      if (item.kind == MenuItem::Kind::check && item.checked) flags |= MF_CHECKED;
      const std::wstring label = to_wide(menu_label_text(item.text));
      appended = AppendMenuW(menu.get(), flags, id, label.c_str());
    }
    if (!appended) return last_os_error();
  }
  return PopupMenu(std::move(menu), std::move(commands));
}

std::optional<std::string> PopupMenu::show(HWND owner, POINT at) const {
  // Without being the foreground window, the menu would not close when the user
  // clicks elsewhere.
  SetForegroundWindow(owner);
  const UINT align = GetSystemMetrics(SM_MENUDROPALIGNMENT) != 0 ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
  const auto id = static_cast<UINT_PTR>(
      TrackPopupMenuEx(menu_.get(), TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON | align, at.x, at.y, owner, nullptr));
  // Lets the menu's own loop finish the switch of foreground, so the next click on the
  // icon opens it again instead of being swallowed.
  PostMessageW(owner, WM_NULL, 0, 0);
  // 0 is nothing picked.
  if (id == 0 || id > commands_.size()) return std::nullopt;
  return commands_[id - 1];
}

}  // namespace tallow::platform::win32
