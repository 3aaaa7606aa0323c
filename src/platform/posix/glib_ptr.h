#pragma once
// Owners for GLib and GObject references, so that none leaks on any path.

#include <gio/gio.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/menu.h"

namespace tallow::platform::posix {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
// A GObject reference of type T (GDBusConnection, DbusmenuServer, GdkPixbuf...).
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GVariantUnref {
  void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GFree {
  void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

// A source attached to a context: destroyed (so it never fires again) and released.
struct GSourceDestroy {
  void operator()(GSource* source) const {
    g_source_destroy(source);
    g_source_unref(source);
  }
};
using GSourcePtr = std::unique_ptr<GSource, GSourceDestroy>;

// A timer on the main context: `callback(data)` after `interval`, and after each further
// interval while it returns G_SOURCE_CONTINUE. It never fires once its owner lets it go.
inline GSourcePtr main_context_timer(std::chrono::milliseconds interval, GSourceFunc callback, gpointer data) {
  GSourcePtr timer(g_timeout_source_new(static_cast<guint>(interval.count())));
  g_source_set_callback(timer.get(), callback, data, nullptr);
  g_source_attach(timer.get(), g_main_context_default());
  return timer;
}

// Connects `signal` of `item` (a menu row's activation) to adding `command` to `picks`,
// which must outlive the item. Swapped, the handler takes its data first, whatever else
// the signal passes.
inline void connect_pick(gpointer item, const char* signal, PickedCommands& picks, std::string_view command) {
  struct Pick {
    PickedCommands* picks;
    std::string command;
  };
  g_signal_connect_data(
      item, signal, G_CALLBACK(+[](gpointer data) {
        const auto* pick = static_cast<const Pick*>(data);
        pick->picks->add(pick->command);
      }),
      new Pick{&picks, std::string(command)}, [](gpointer data, GClosure*) { delete static_cast<Pick*>(data); },
      G_CONNECT_SWAPPED);
}

// The error's message, or `fallback` when there is no error.
inline const char* error_text(const GError* error, const char* fallback = "unknown error") {
  return error && error->message ? error->message : fallback;
}

}  // namespace tallow::platform::posix
