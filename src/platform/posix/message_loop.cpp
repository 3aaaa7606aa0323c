// The main thread's messages on Linux are the events of GLib's default main context: the
// session bus (the notification item, its menu, the theme), the signals that ask the
// tray to close, and GTK's windows once any is open.

#include "platform/message_loop.h"

#include <glib.h>

#include <algorithm>

#include "platform/posix/glib_ptr.h"

namespace tallow::platform {
namespace {

// Enough for any burst of bus traffic; a source that is always ready cannot keep the
// caller here for ever.
constexpr int kMostDispatchesAtOnce = 1000;

}  // namespace

PumpResult dispatch_window_messages() {
  GMainContext* context = g_main_context_default();
  for (int i = 0; i < kMostDispatchesAtOnce && g_main_context_iteration(context, FALSE); ++i) {
  }
  // Linux has no quit message: the tray ends through its close request.
  return PumpResult::drained;
}

void wait_for_window_input(std::chrono::milliseconds limit) {
  GMainContext* context = g_main_context_default();
  // The timeout is a source of its own, so the one blocking iteration returns at the
  // limit or with the first event, whichever comes first. What that iteration
  // dispatches is part of the input the next pass would have drained anyway.
  const auto ms = std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, G_MAXUINT);
  const posix::GSourcePtr timeout(g_timeout_source_new(static_cast<guint>(ms)));
  g_source_set_callback(timeout.get(), [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr,
                        nullptr);
  g_source_attach(timeout.get(), context);
  g_main_context_iteration(context, TRUE);
}

}  // namespace tallow::platform
