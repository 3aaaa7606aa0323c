#pragma once
// GTK 3, loaded only for the XEmbed fallback icon, which must live in the tray's own
// process. The idle tray lives on GIO alone; linking GTK would load it, with its theme
// and its display connection, into every tray. Message boxes and the input dialog run
// in tallowmere-dialog instead, so the tray does not keep GTK after a dialog.

// GTK's headers give the exact prototypes; nothing is linked against them. GtkStatusIcon
// is deprecated, and is still what XEmbed trays take.
#ifndef GDK_DISABLE_DEPRECATION_WARNINGS
#define GDK_DISABLE_DEPRECATION_WARNINGS
#endif
#include <gtk/gtk.h>

#include "platform/posix/icon/run_time_library.h"

namespace tallow::platform::posix {

#define TALLOW_GTK_FUNCTIONS(X)                                                                      \
  X(gtk_disable_setlocale) X(gdk_set_allowed_backends) X(gtk_init_check) X(gtk_widget_destroy)      \
  X(gtk_widget_show_all) X(gtk_widget_set_sensitive) X(gtk_get_current_event_time)                 \
  X(gtk_status_icon_new) X(gtk_status_icon_get_size) X(gtk_status_icon_set_from_pixbuf)             \
  X(gtk_status_icon_set_tooltip_text) X(gtk_status_icon_set_title) X(gtk_status_icon_set_name)      \
  X(gtk_status_icon_set_visible) X(gtk_status_icon_is_embedded) X(gtk_status_icon_position_menu)    \
  X(gtk_status_icon_get_geometry) X(gtk_menu_new) X(gtk_menu_popup) X(gtk_menu_shell_append)        \
  X(gtk_menu_item_new_with_label) X(gtk_check_menu_item_new_with_label)                            \
  X(gtk_check_menu_item_set_active) X(gtk_separator_menu_item_new) X(gdk_pixbuf_new_from_bytes)     \
  X(gdk_get_default_root_window) X(gdk_pixbuf_get_from_window) X(gdk_pixbuf_get_pixels)             \
  X(gdk_pixbuf_get_rowstride) X(gdk_pixbuf_get_n_channels) X(gdk_pixbuf_get_width)                 \
  X(gdk_pixbuf_get_height)

// The GTK functions the tray uses, looked up in libgtk-3.so.0 (and the libraries it
// brings: gdk, gdk-pixbuf).
struct GtkFunctions {
  TALLOW_GTK_FUNCTIONS(TALLOW_LIBRARY_MEMBER)
};

// GTK's own casts (GTK_WINDOW...) call into the library by name to check the type;
// the widgets here are made as what they are cast to, so a plain cast serves.
template <typename To>
To* gtk_cast(gpointer widget) {
  return static_cast<To*>(widget);
}

// GTK, loaded and initialized on the first call (on the main thread); null when the
// library is missing, a function is, or there is no display to open. The answer is kept:
// GTK stays loaded for the life of the process, since it cannot be unloaded safely.
const GtkFunctions* gtk();

}  // namespace tallow::platform::posix
