// Other programs and the session reach the tray through signals: SIGTERM and SIGINT ask
// it to close, SIGHUP says the session is ending. GLib's signal sources take them: the
// handler only wakes the main context, and the work happens in its dispatch.

#include "platform/session_control.h"

#include <glib-unix.h>
#include <signal.h>

#include <vector>

#include "platform/posix/dialog/dialog_helper.h"
#include "platform/posix/loop_quit.h"

namespace tallow::platform {

struct SessionControl::Impl {
  std::function<void()> on_session_end;
  bool close_requested = false;
  std::vector<guint> sources;

  ~Impl() {
    // Removing the last source of a signal puts its default action back.
    for (const guint source : sources) g_source_remove(source);
  }

  static gboolean on_close(gpointer data) {
    static_cast<Impl*>(data)->close_requested = true;
    // A message box open now (even the failure hook's) would keep the tray from
    // closing until someone answers it.
    posix::close_dialogs_for_good();
    return G_SOURCE_CONTINUE;
  }

  static gboolean on_hang_up(gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (self->on_session_end) self->on_session_end();
    // Unlike Windows, nothing ends the process once the session is gone: the loop ends
    // now, as it would with the process, without waiting longer for the agent, and an
    // open dialog closes.
    posix::post_loop_quit();
    return G_SOURCE_CONTINUE;
  }
};

SessionControl::SessionControl(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SessionControl::SessionControl(SessionControl&&) noexcept = default;
SessionControl& SessionControl::operator=(SessionControl&&) noexcept = default;
SessionControl::~SessionControl() = default;

Result<SessionControl> SessionControl::create(std::function<void()> on_session_end) {
  auto impl = std::make_unique<Impl>();
  impl->on_session_end = std::move(on_session_end);
  for (const int signal : {SIGTERM, SIGINT}) {
    impl->sources.push_back(g_unix_signal_add(signal, &Impl::on_close, impl.get()));
  }
  impl->sources.push_back(g_unix_signal_add(SIGHUP, &Impl::on_hang_up, impl.get()));
  return SessionControl(std::move(impl));
}

bool SessionControl::close_requested() const { return impl_ && impl_->close_requested; }

}  // namespace tallow::platform
