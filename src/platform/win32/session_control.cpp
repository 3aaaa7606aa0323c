#include "platform/session_control.h"

#include <windows.h>

#include "platform/win32/scoped_gui_object.h"

namespace tallow::platform {
namespace {

constexpr wchar_t kControlClassName[] = L"tallowmereTrayControl";

}  // namespace

struct SessionControl::Impl {
  std::function<void()> on_session_end;
  bool close_requested = false;
  win32::ScopedWindow window;

  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
};

LRESULT CALLBACK SessionControl::Impl::procedure(HWND window, UINT message, WPARAM wparam,
                                                 LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  switch (message) {
    case WM_CLOSE:
      // The window stays: the tray's loop decides what a close request does.
      self->close_requested = true;
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;  // never stand in the way of the session's end
    case WM_ENDSESSION:
      if (wparam == TRUE) {
        if (self->on_session_end) self->on_session_end();
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

SessionControl::SessionControl(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SessionControl::SessionControl(SessionControl&&) noexcept = default;
SessionControl& SessionControl::operator=(SessionControl&&) noexcept = default;

SessionControl::~SessionControl() {
  if (impl_ && impl_->window) {
    // Nothing may reach this object once it is gone.
    SetWindowLongPtrW(impl_->window.get(), GWLP_USERDATA, 0);
  }
}

Result<SessionControl> SessionControl::create(std::function<void()> on_session_end) {
  auto impl = std::make_unique<Impl>();
  impl->on_session_end = std::move(on_session_end);
  const HINSTANCE instance = GetModuleHandleW(nullptr);

  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &Impl::procedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = kControlClassName;
  // Registered once per process; a later registration fails harmlessly.
  RegisterClassW(&window_class);

  // A hidden top-level window: it hears the session's broadcasts, which a message-only
  // window would not, and WS_EX_TOOLWINDOW keeps it off the taskbar.
  impl->window.reset(CreateWindowExW(WS_EX_TOOLWINDOW, kControlClassName, nullptr, WS_POPUP, 0, 0,
                                     0, 0, nullptr, nullptr, instance, impl.get()));
  if (!impl->window) return Error{"the control window could not be created"};
  return SessionControl(std::move(impl));
}

bool SessionControl::close_requested() const { return impl_ && impl_->close_requested; }

}  // namespace tallow::platform
