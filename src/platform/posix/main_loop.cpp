// The main thread's messages on Linux are the events of GLib's default main context: the
// session bus (the notification item, its menu, the theme), the signals that ask the
// tray to close, and GTK's windows once any is open.

#include "platform/main_loop.h"

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/posix/loop_quit.h"

namespace tallow::platform {
namespace {

// Enough for any burst of bus traffic; a source that is always ready cannot keep the
// caller here for ever.
constexpr int kMostDispatchesAtOnce = 1000;

// The descriptors of one wait, kept between waits; the main thread's alone.
std::vector<GPollFD> poll_fds(16);

std::atomic<bool> quit_posted{false};

}  // namespace

namespace posix {
void post_loop_quit() { quit_posted.store(true); }
bool loop_quit_posted() { return quit_posted.load(); }
}  // namespace posix

PumpResult dispatch_pending_events() {
  GMainContext* context = g_main_context_default();
  for (int i = 0; i < kMostDispatchesAtOnce && !quit_posted.load() && g_main_context_iteration(context, FALSE);
       ++i) {
  }
  // Like a quit message, the quit is taken by the dispatch that reports it.
  return quit_posted.exchange(false) ? PumpResult::quit : PumpResult::drained;
}

void wait_for_events(std::chrono::milliseconds limit) {
  if (quit_posted.load()) return;
  GMainContext* context = g_main_context_default();
  // One round of GLib's own iteration, with the poll bounded by `limit` as well: it
  // returns with the first event or at the limit, and dispatches what woke it, which is
  // input the next pass would have drained anyway. Nothing is allocated per wait.
  if (!g_main_context_acquire(context)) return;
  gint max_priority = 0;
  g_main_context_prepare(context, &max_priority);
  gint timeout = 0;
  const auto room = static_cast<gint>(poll_fds.size());
  gint count = g_main_context_query(context, max_priority, &timeout, poll_fds.data(), room);
  if (count > room) {
    poll_fds.resize(static_cast<std::size_t>(count));
    count = g_main_context_query(context, max_priority, &timeout, poll_fds.data(), count);
  }
  // Unbounded, GLib's own timeout stands (-1 when no timer of the context is due).
  if (limit != kUnboundedInputWait) {
    const auto most = std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, G_MAXINT);
    if (timeout < 0 || timeout > most) timeout = static_cast<gint>(most);
  }
  g_main_context_get_poll_func(context)(poll_fds.data(), static_cast<guint>(count), timeout);
  if (g_main_context_check(context, max_priority, poll_fds.data(), count)) g_main_context_dispatch(context);
  g_main_context_release(context);
}

void wake_main_loop() { g_main_context_wakeup(g_main_context_default()); }

bool changes_wake_main_loop() { return true; }

}  // namespace tallow::platform
