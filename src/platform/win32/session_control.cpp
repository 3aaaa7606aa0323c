#include "platform/session_control.h"

#include <windows.h>

#include "platform/win32/owner_window.h"

namespace tallow::platform {
namespace {

constexpr wchar_t kControlClassName[] = L"tallowmereTrayControl";

}  // namespace

struct SessionControl::Impl {
  std::function<void()> on_session_end;
  bool close_requested = false;
  win32::ScopedWindow window;

  std::optional<LRESULT> handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_CLOSE:
        // The window stays: the tray's loop decides what a close request does.
        close_requested = true;
        return 0;
      case WM_QUERYENDSESSION:
        return TRUE;  // never stand in the way of the session's end
      case WM_ENDSESSION:
        if (wparam != TRUE) return std::nullopt;
        if (on_session_end) on_session_end();
        // Restart Manager closing the tray for an update: its session goes on, so the
        // tray ends itself once the agent is stopped, and is started again afterwards.
        if (lparam & ENDSESSION_CLOSEAPP) close_requested = true;
        return 0;
      default:
        return std::nullopt;
    }
  }
};

SessionControl::SessionControl(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SessionControl::SessionControl(SessionControl&&) noexcept = default;
SessionControl& SessionControl::operator=(SessionControl&&) noexcept = default;

SessionControl::~SessionControl() {
  if (impl_ && impl_->window) {
    // Nothing may reach this object once it is gone.
    win32::detach_owner(impl_->window.get());
  }
}

Result<SessionControl> SessionControl::create(std::function<void()> on_session_end) {
  auto impl = std::make_unique<Impl>();
  impl->on_session_end = std::move(on_session_end);
  auto window = win32::create_owner_window(kControlClassName, impl.get());
  if (!window) return Error{"the control window could not be created"};
  impl->window = std::move(window).value();
  // Restart Manager starts the tray again, as it was, after an update that closed it; a
  // crash, a hang or a reboot starts none (at login the Run value does).
  RegisterApplicationRestart(nullptr, RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
  return SessionControl(std::move(impl));
}

bool SessionControl::close_requested() const { return impl_ && impl_->close_requested; }

}  // namespace tallow::platform
