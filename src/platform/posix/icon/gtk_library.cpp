// GTK loaded and started once, for the XEmbed icon.

#include "platform/posix/icon/gtk_library.h"

namespace tallow::platform::posix {
namespace {

bool load(GtkFunctions* functions) {
  if (!load_library("libgtk-3.so.0", {TALLOW_GTK_FUNCTIONS(TALLOW_LIBRARY_SYMBOL)})) return false;
  // The tray keeps the C locale everywhere on purpose, and its other threads run:
  // GTK would switch the whole process's locale at its start.
  functions->gtk_disable_setlocale();
  // The XEmbed icon lives on X11, also under XWayland where GTK would take Wayland.
  functions->gdk_set_allowed_backends("x11");
  return functions->gtk_init_check(nullptr, nullptr);
}

}  // namespace

const GtkFunctions* gtk() {
  static auto* const functions = new GtkFunctions();
  static const bool loaded = load(functions);
  return loaded ? functions : nullptr;
}

}  // namespace tallow::platform::posix
