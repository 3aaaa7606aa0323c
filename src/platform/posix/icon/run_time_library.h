#pragma once
// Libraries the tray opens only when it needs them instead of linking them: GTK for the
// XEmbed fallback, libxcb to look for an XEmbed tray under XWayland. Linked, each would
// be loaded into every idle tray. A table of functions is a struct of pointers named as
// the functions, listed once by an X-macro:
//
//   #define TALLOW_XCB_FUNCTIONS(X) X(xcb_connect) X(xcb_disconnect)
//   struct XcbFunctions { TALLOW_XCB_FUNCTIONS(TALLOW_LIBRARY_MEMBER) };
//   ... load_library("libxcb.so.1", {TALLOW_XCB_FUNCTIONS(TALLOW_LIBRARY_SYMBOL)}) ...
//
// where the table being filled is named `functions` (a pointer).

#include <glib.h>

#include <initializer_list>

namespace tallow::platform::posix {

struct LibrarySymbol {
  const char* name;
  gpointer* slot;
};

#define TALLOW_LIBRARY_MEMBER(name) decltype(&::name) name = nullptr;
#define TALLOW_LIBRARY_SYMBOL(name) ::tallow::platform::posix::LibrarySymbol{#name, reinterpret_cast<gpointer*>(&functions->name)},

// Opens `file` for the rest of the process's life (what a library registers may outlive
// any unloading) and fills every slot; false when the library or any symbol is missing.
bool load_library(const char* file, std::initializer_list<LibrarySymbol> symbols);

}  // namespace tallow::platform::posix
