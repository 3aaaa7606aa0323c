#pragma once
// A hidden window that hands its messages to an object of ours (the notification icon,
// the session control). Top-level rather than message-only, so that it hears the
// broadcasts (TaskbarCreated, the session's end) a message-only window would not; a
// tool window, never shown and without a taskbar button.

#include <windows.h>

#include <optional>

#include "common/result.h"
#include "platform/os_error.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::platform::win32 {

// Creates the window of class `class_name` (registered on first use) for `owner`, whose
// handle(message, wparam, lparam) answers the messages it takes and leaves the rest
// (std::nullopt) to the default handling. The owner must outlive the window, or call
// detach_owner first.
template <typename Owner>
Result<ScopedWindow> create_owner_window(const wchar_t* class_name, Owner* owner) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = [](HWND window, UINT message, WPARAM wparam, LPARAM lparam) -> LRESULT {
    // The owner's address rides in the window's user data from its first message on.
    if (message == WM_NCCREATE) {
      const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    if (auto* self = reinterpret_cast<Owner*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
      if (const std::optional<LRESULT> result = self->handle(message, wparam, lparam)) return *result;
    }
    return DefWindowProcW(window, message, wparam, lparam);
  };
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = class_name;
  if (!RegisterClassW(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return last_os_error();
  ScopedWindow window(CreateWindowExW(WS_EX_TOOLWINDOW, class_name, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), owner));
  if (!window) return last_os_error();
  return window;
}

// Messages sent from now on (also while the window is destroyed) no longer reach its owner.
inline void detach_owner(HWND window) { SetWindowLongPtrW(window, GWLP_USERDATA, 0); }

}  // namespace tallow::platform::win32
