#pragma once
// The desktop's light or dark look, which the tray icon's colour follows.

namespace tallow::platform {

// True when the taskbar uses the light theme. Windows: the user's
// SystemUsesLightTheme setting is the DWORD 1; anything else (missing, 0, another
// type) is dark. Linux: the background of the XEmbed tray that docks the icon, as seen;
// else the desktop portal's colour scheme, dark until it is read.
bool is_light_theme();

// False while nothing has said whether the taskbar is light or dark: on Linux, until
// the icon is seen docked or the desktop portal answers (a session may have no portal
// at all). Windows always knows.
bool is_theme_known();

}  // namespace tallow::platform
