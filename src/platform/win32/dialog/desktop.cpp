#include "platform/desktop.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "platform/win32/wide_text.h"

namespace tallow::platform {

void show_message(std::string_view caption, std::string_view text, bool is_error) {
  const std::wstring wide_caption = win32::wide_from_utf8(caption);
  const std::wstring wide_text = win32::wide_from_utf8(text);
  MessageBoxW(nullptr, wide_text.c_str(), wide_caption.c_str(),
              MB_OK | MB_SETFOREGROUND | MB_TOPMOST | (is_error ? MB_ICONERROR : MB_ICONINFORMATION));
}

void open_with_shell(std::string_view target) {
  const std::wstring file = win32::wide_from_utf8(target);
  // The shell may hand the target to an extension that needs COM on this thread. A
  // thread already in another apartment keeps it; only our own initialization is undone.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace tallow::platform
