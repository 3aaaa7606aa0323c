#include "platform/posix/icon/gtk_library.h"

namespace tallow::platform::posix {
namespace {

const GtkFunctions* load() {
  auto* functions = new GtkFunctions();
  const bool complete = load_library("libgtk-3.so.0", {TALLOW_GTK_FUNCTIONS(TALLOW_LIBRARY_SYMBOL)});
  if (complete) {
    // The tray keeps the C locale everywhere on purpose, and its other threads run:
    // GTK would switch the whole process's locale at its start.
    functions->gtk_disable_setlocale();
    // The XEmbed icon lives on X11, also under XWayland where GTK would take Wayland.
    functions->gdk_set_allowed_backends("x11");
  }
  if (!complete || !functions->gtk_init_check(nullptr, nullptr)) {
    delete functions;
    return nullptr;
  }
  return functions;
}

}  // namespace

const GtkFunctions* gtk() {
  static const GtkFunctions* const functions = load();
  return functions;
}

}  // namespace tallow::platform::posix
