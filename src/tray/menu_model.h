#pragma once
// The tray menu as a plain value, computed from a snapshot.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tray/tray_snapshot.h"

namespace tallow {

struct MenuEntry {
  enum class Kind { text, check, separator };

  Kind kind = Kind::separator;
  std::string text;
  bool enabled = false;
  bool checked = false;                 // check items only
  std::optional<std::string> command;   // none for the disabled information items

  static MenuEntry item(std::string text, std::string command);
  static MenuEntry information(std::string text);
  static MenuEntry check(std::string text, bool checked, std::string command);
  static MenuEntry separator();

  bool operator==(const MenuEntry&) const = default;
};

using TrayMenu = std::vector<MenuEntry>;

// The whole menu for a snapshot: status, hub, actions and the fixed items.
TrayMenu build_tray_menu(const TraySnapshot& snapshot);

// The part of a hub URL shown in the menu: after the first "://", before the next "/".
std::string_view hub_host(std::string_view hub_url);

}  // namespace tallow
