#pragma once
// Which display the session has, and what that allows the icon: an XEmbed tray docks
// only X11 windows, and only an X11 session lets a program open a menu at the pointer.

#include <functional>
#include <string>

namespace tallow::platform::posix {

struct DisplaySession {
  bool x11 = false;      // an X display is named (the session's own, or XWayland's)
  bool wayland = false;  // the session is a Wayland one
};

// The session as its environment says: DISPLAY, WAYLAND_DISPLAY and XDG_SESSION_TYPE.
DisplaySession current_display_session();

// Whether the XEmbed icon may serve: on an X11 session; on a Wayland one only through
// XWayland, and only where an XEmbed tray is there (`xembed_tray_there` is asked only
// then), since the icon would load GTK into the tray for one that never comes.
bool xembed_possible(const DisplaySession& session, const std::function<bool()>& xembed_tray_there);

// Whether the tray may pop its own menu up at the pointer: X11 sessions only, since
// Wayland gives no program a place on the screen of its own choosing.
bool own_popup_possible(const DisplaySession& session);

// Whether an XEmbed system tray holds its selection (_NET_SYSTEM_TRAY_Sn) on the X
// display DISPLAY names. Asks the X server through libxcb, loaded for the question
// only; false when there is no display or no libxcb.
bool xembed_tray_present();

}  // namespace tallow::platform::posix
