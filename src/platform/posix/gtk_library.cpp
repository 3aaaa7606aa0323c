#include "platform/posix/gtk_library.h"

#include <gmodule.h>

namespace tallow::platform::posix {
namespace {

const GtkFunctions* load() {
  GModule* library = g_module_open("libgtk-3.so.0", G_MODULE_BIND_LOCAL);
  if (!library) return nullptr;
  // GTK registers types and exit handlers that outlive any unloading.
  g_module_make_resident(library);
  auto* functions = new GtkFunctions();
  bool complete = true;
#define TALLOW_GTK_LOOKUP(name)                                                       \
  complete = complete && g_module_symbol(library, #name,                              \
                                         reinterpret_cast<gpointer*>(&functions->name)) && \
             functions->name != nullptr;
  TALLOW_GTK_FUNCTIONS(TALLOW_GTK_LOOKUP)
#undef TALLOW_GTK_LOOKUP
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
