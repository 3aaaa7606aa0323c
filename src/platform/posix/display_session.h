#pragma once
// Which display the session has, and what that allows the icon: an XEmbed tray docks
// only X11 windows, and only an X11 session lets a program open a menu at the pointer.

namespace tallow::platform::posix {

struct DisplaySession {
  bool x11 = false;      // an X display is named (the session's own, or XWayland's)
  bool wayland = false;  // the session is a Wayland one
};

// The session as its environment says: DISPLAY, WAYLAND_DISPLAY and XDG_SESSION_TYPE.
DisplaySession current_display_session();

// When the XEmbed icon may serve: at once on an X11 session; on a Wayland one only
// through XWayland, and only once an XEmbed tray is seen there (xwayland_trays.h), since
// the icon would load GTK into the tray for one that never comes; never without an X
// display.
enum class XembedChance { now, once_a_tray_is_seen, never };
XembedChance xembed_chance(const DisplaySession& session);

// Whether the tray may pop its own menu up at the pointer: X11 sessions only, since
// Wayland gives no program a place on the screen of its own choosing.
bool own_popup_possible(const DisplaySession& session);

}  // namespace tallow::platform::posix
