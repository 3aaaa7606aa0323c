#pragma once
// The desktop's colour scheme as the desktop portal tells it.

#include <gio/gio.h>

#include <optional>

namespace tallow::platform::posix {

// What a value of org.freedesktop.appearance "color-scheme" says: true for 2 (prefer
// light), false for 1 (prefer dark) and 0 (no preference); none when it is no such
// value. Variants wrapped in variants (as Settings.Read returns them) are unwrapped.
std::optional<bool> color_scheme_is_light(GVariant* value);

}  // namespace tallow::platform::posix
