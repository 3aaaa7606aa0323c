#pragma once
// The desktop's light or dark look, which the tray icon's colour follows.

namespace tallow::platform {

// True when the taskbar uses the light theme. Windows: the user's
// SystemUsesLightTheme setting is the DWORD 1; anything else (missing, 0, another
// type) is dark. Elsewhere: dark, until the desktop's colour scheme is read.
bool is_light_theme();

}  // namespace tallow::platform
