#pragma once
// Text in the form the notification area and popup menus take it, as UTF-16.

#include <cstddef>
#include <string>
#include <string_view>

namespace tallow::platform {

// Room in the notification area's tooltip buffer: 128 units with the terminating NUL.
inline constexpr std::size_t kTooltipUnits = 127;

// The tooltip, cut to at most `max_units` UTF-16 units and never between the two
// halves of a surrogate pair.
std::u16string tooltip_text(std::string_view text, std::size_t max_units = kTooltipUnits);

// A menu label that shows exactly as written: every "&" doubled, since a single one
// would mark the next character as the item's mnemonic and vanish.
std::u16string menu_label_text(std::string_view text);

}  // namespace tallow::platform

namespace tallow::platform {

// A label for menus and buttons that take "_" as the access-key marker (D-Bus menus,
// GTK): every "_" doubled, so that the text shows exactly as written. Stays UTF-8.
std::string underscore_label_text(std::string_view text);

}  // namespace tallow::platform
