#pragma once
// How other programs and the session reach the running tray. Windows: the hidden
// top-level window of class "tallowmereTrayControl", never shown and without a taskbar
// button, which answers WM_CLOSE (a close request), WM_QUERYENDSESSION (always allowing
// the session to end) and WM_ENDSESSION (the session ends; with ENDSESSION_CLOSEAPP,
// Restart Manager's close before an update, also a close request). The tray is
// registered with Restart Manager to be started again after such an update. Linux: SIGTERM and SIGINT
// are a close request, SIGHUP the end of the session; they arrive through the main
// thread's message loop, never with work done in a signal handler.

#include <functional>
#include <memory>

#include "common/result.h"

namespace tallow::platform {

class SessionControl {
 public:
  // Starts listening on the calling thread, which runs the message loop. `on_session_end`
  // runs on that thread, inside message dispatch, when the session ends; it must return
  // within a few seconds, after which the session may end the process.
  static Result<SessionControl> create(std::function<void()> on_session_end);

  SessionControl(SessionControl&&) noexcept;
  SessionControl& operator=(SessionControl&&) noexcept;
  ~SessionControl();

  // True once a close request has arrived; it stays true.
  bool close_requested() const;

 private:
  struct Impl;
  explicit SessionControl(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace tallow::platform
