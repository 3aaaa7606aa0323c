#pragma once
// A Win32 popup menu built from a menu value, with the table from its item ids to
// the items' commands.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/notification_icon.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::platform::win32 {

class PopupMenu {
 public:
  // A new menu holding `items` in order. Item n (from 0) gets the id n + 1, since a
  // popup menu reports "nothing picked" as 0.
  static Result<PopupMenu> build(const Menu& items);

  HMENU handle() const { return menu_.get(); }

  // Opens the menu at `at` for `owner`'s thread and returns once it has closed, with the
  // command of the item picked, if any.
  std::optional<std::string> show(HWND owner, POINT at) const;

 private:
  PopupMenu(ScopedMenu menu, std::vector<std::optional<std::string>> commands)
      : menu_(std::move(menu)), commands_(std::move(commands)) {}

  ScopedMenu menu_;
  std::vector<std::optional<std::string>> commands_;  // by id - 1
};

}  // namespace tallow::platform::win32
