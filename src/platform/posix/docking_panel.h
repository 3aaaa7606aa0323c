#pragma once
// The XEmbed tray that docks the icon, as it looks where the icon sits. Such a tray draws
// its icons as given, in no colour of its own, and nothing else says whether it is light
// or dark: the desktop portal's colour scheme describes windows, not panels. Seen, its
// background decides the icon's colour there.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace tallow::platform::posix {

using Rgb = std::array<std::uint8_t, 3>;

// Whether pixels of a background are light: their mean luma (Rec. 709) is over half
// way. None for no pixels.
std::optional<bool> is_light_background(std::span<const Rgb> pixels);

// What the docking tray looks like, once seen; none while the icon is not docked. Read
// by is_light_theme() before the portal's answer. Main thread only.
void set_docking_panel_light(std::optional<bool> light);
std::optional<bool> docking_panel_light();

}  // namespace tallow::platform::posix
