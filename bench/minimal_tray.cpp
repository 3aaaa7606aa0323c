// The least a program can do to keep an icon in the notification area, with the tray's
// own pace: a hidden window, Shell_NotifyIconW, a popup menu on a click, and a loop
// that drains the thread's messages and then waits at most 200 ms for more. The
// yardstick of bench/win_tray_bench.sh.
//
//   minimal_tray MARKER   the menu's "Stop" writes the file MARKER; "Quit" ends it

#include <windows.h>
#include <shellapi.h>

namespace {

constexpr UINT kIconMessage = WM_APP + 1;
constexpr UINT kStop = 1;
constexpr UINT kQuit = 2;
const wchar_t* marker = L"";

void open_menu(HWND window) {
  const HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, kStop, L"Stop");
  AppendMenuW(menu, MF_STRING, kQuit, L"Quit");
  POINT at{};
  GetCursorPos(&at);
  SetForegroundWindow(window);
  const UINT picked = static_cast<UINT>(
      TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, window, nullptr));
  PostMessageW(window, WM_NULL, 0, 0);
  DestroyMenu(menu);
  if (picked == kStop) {
    const HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  } else if (picked == kQuit) {
    PostQuitMessage(0);
  }
}

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kIconMessage && (LOWORD(lparam) == WM_LBUTTONUP || LOWORD(lparam) == WM_RBUTTONUP)) {
    open_menu(window);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc > 1) marker = argv[1];
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"tallowmereMinimalTray";
  RegisterClassW(&window_class);
  const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, window_class.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0,
                                      nullptr, nullptr, instance, nullptr);
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  icon.uID = 1;
  icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  icon.uCallbackMessage = kIconMessage;
  icon.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  lstrcpynW(icon.szTip, L"minimal tray", 128);
  if (!Shell_NotifyIconW(NIM_ADD, &icon)) return 3;
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        Shell_NotifyIconW(NIM_DELETE, &icon);
        return 0;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 200, QS_ALLINPUT);
  }
}
