#pragma once
// Owners for GLib and GObject references, so that none leaks on any path.

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/menu.h"

namespace tallow::platform::posix {

// Calls `release` on the pointer an owner below lets go.
template <auto release>
struct GRelease {
  void operator()(auto* pointer) const { release(pointer); }
};
// A GObject reference of type T (GDBusConnection, DbusmenuServer, GdkPixbuf...).
template <typename T>
using GObjectPtr = std::unique_ptr<T, GRelease<g_object_unref>>;
using GVariantPtr = std::unique_ptr<GVariant, GRelease<g_variant_unref>>;
using GErrorPtr = std::unique_ptr<GError, GRelease<g_error_free>>;
using GCharPtr = std::unique_ptr<gchar, GRelease<g_free>>;

// A source attached to a context: destroyed (so it never fires again) and released.
inline void destroy_source(GSource* source) {
  g_source_destroy(source);
  g_source_unref(source);
}
using GSourcePtr = std::unique_ptr<GSource, GRelease<destroy_source>>;

// `source` attached to the main context with `callback(data)` (a source of another kind
// takes its own callback through G_SOURCE_FUNC); `forget(data)` once it is gone.
inline GSourcePtr on_main_context(GSource* source, GSourceFunc callback, gpointer data,
                                  GDestroyNotify forget = nullptr) {
  GSourcePtr owned(source);
  g_source_set_callback(source, callback, data, forget);
  g_source_attach(source, g_main_context_default());
  return owned;
}

// `action` once, on the main context after `interval`, unless the owner lets the timer
// go first. GLib keeps `action` alive while it runs, even should it end its own timer.
inline GSourcePtr main_context_once(std::chrono::milliseconds interval, std::function<void()> action) {
  using Action = std::function<void()>;
  return on_main_context(
      g_timeout_source_new(static_cast<guint>(interval.count())),
      [](gpointer data) {
        (*static_cast<Action*>(data))();
        return G_SOURCE_REMOVE;
      },
      new Action(std::move(action)), [](gpointer data) { delete static_cast<Action*>(data); });
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
