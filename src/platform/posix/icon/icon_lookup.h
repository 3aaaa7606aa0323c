#pragma once
// Where notification-area hosts look for an item's named icon, and whether they will find
// ours. A host trusts the name it is given: for one it cannot find it draws nothing, or
// a broken-image placeholder, rather than the item's pixmaps. Run from anywhere but the
// build tree or a package (copied elsewhere, installed under a prefix the session does
// not search), the tray must say where its icons are, or name none.

#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

namespace tallow::platform::posix {

struct ItemIconPlaces {
  // The item's IconThemePath: the icons the tray carries, where hosts would not look
  // by themselves; empty otherwise.
  std::filesystem::path theme_path;
  // Every directory a host searches, the theme path first.
  std::vector<std::filesystem::path> bases;
};

// The icon directories of the session, as hosts search them: $XDG_DATA_HOME/icons,
// ~/.icons, then each of $XDG_DATA_DIRS (/usr/local/share:/usr/share by default)/icons.
std::vector<std::filesystem::path> session_icon_bases();

// The places for the tray program at `executable`: it carries its icons in share/icons
// under its install prefix, or, in the build tree, in icons beside bin/.
ItemIconPlaces item_icon_places(const std::filesystem::path& executable,
                                std::vector<std::filesystem::path> session_bases);

// Whether a host searching `bases` finds the icon `name`: in a base itself (the flat
// directory some hosts search alone), or in its hicolor theme's scalable or symbolic
// applications.
bool hosts_find_icon(std::span<const std::filesystem::path> bases, std::string_view name);

}  // namespace tallow::platform::posix
