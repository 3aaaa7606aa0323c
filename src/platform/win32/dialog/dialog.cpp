// The input dialog from plain windows: a registered class, four child controls and a
// message loop of its own, no dialog template.

#include "platform/dialog.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dialog/dialog_layout.h"
#include "dialog/dialog_result.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace tallow::platform {
namespace {

using win32::ScopedFont;
using win32::ScopedWindow;
using win32::wide_from_utf8;

constexpr wchar_t kClassName[] = L"tallowmereAsk";
constexpr int kFieldId = 100;
constexpr int kPromptId = 0;
constexpr WORD kApplicationIcon = 1;

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
constexpr DWORD kPromptStyle = WS_CHILD | WS_VISIBLE;
constexpr DWORD kFieldStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kAcceptStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD kCancelStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
static_assert(kDialogStyle == 0x80C80000 && kDialogExStyle == 0x9);
static_assert(kPromptStyle == 0x50000000 && kFieldStyle == 0x50010080);
static_assert(kAcceptStyle == 0x50010001 && kCancelStyle == 0x50010000);
static_assert(EM_SETCUEBANNER == 0x1501);
// The full structure, with the padded border width of Vista and later.
static_assert(sizeof(NONCLIENTMETRICSW) == 504);

// The outcome of the dialog running on this thread, written by its window procedure.
thread_local DialogResultSlot result_slot;

std::string read_field(HWND dialog) {
  const HWND field = GetDlgItem(dialog, kFieldId);
  const int length = GetWindowTextLengthW(field);
  std::u16string buffer(static_cast<std::size_t>(length > 0 ? length : 0) + 1, u'\0');
  const int copied = GetWindowTextW(field, reinterpret_cast<wchar_t*>(buffer.data()),
                                    static_cast<int>(buffer.size()));
  return field_text(buffer, copied);
}

LRESULT CALLBACK dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      // Only the control id counts; the notification code in the high word does not.
      if (LOWORD(wparam) == IDOK) {
        result_slot.accept(read_field(window));
        DestroyWindow(window);
        return 0;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        result_slot.cancel();
        DestroyWindow(window);
        return 0;
      }
      break;
    case WM_CLOSE:
      result_slot.cancel();
      DestroyWindow(window);
      return 0;
    case WM_CTLCOLORSTATIC:
      // The prompt sits on the window's own background rather than the grey of a dialog.
      SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_NCDESTROY:
      // A window gone without a choice counts as cancelled, so the loop never waits on it.
      if (result_slot.pending()) result_slot.cancel();
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// Registering on every use is cheap; when a class is left from an earlier dialog, the
// failure is ignored and that class is used.
void register_dialog_class(HINSTANCE instance) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = dialog_procedure;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kApplicationIcon));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  window_class.lpszClassName = kClassName;
  RegisterClassW(&window_class);
}

ScopedFont create_message_font() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  // On failure the font is made from the zero-filled metrics: the system's default.
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  return ScopedFont(CreateFontIndirectW(&metrics.lfMessageFont));
}

// Creates one child control with the dialog font; a control that cannot be made is
// left out and the dialog goes on without it.
HWND add_control(HWND dialog, HINSTANCE instance, HFONT font, const wchar_t* class_name,
                 std::string_view text, DWORD style, int id, const PixelRect& rect) {
  const DWORD ex_style = std::wstring_view(class_name) == L"EDIT" ? WS_EX_CLIENTEDGE : 0;
  const std::wstring wide_text = wide_from_utf8(text);
  const HWND control = CreateWindowExW(
      ex_style, class_name, wide_text.c_str(), style, rect.x, rect.y, rect.width, rect.height,
      dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return control;
}

}  // namespace

std::optional<std::string> ask_text(std::string_view caption, std::string_view prompt,
                                    std::string_view hint, std::string_view accept_label) {
  result_slot.reset();
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  register_dialog_class(instance);

  const auto dpi = static_cast<std::int32_t>(GetDpiForSystem());
  const DialogLayout layout = dialog_layout(dpi);
  RECT frame{0, 0, layout.client_width, layout.client_height};
  AdjustWindowRectEx(&frame, kDialogStyle, FALSE, kDialogExStyle);
  const std::int32_t window_width = frame.right - frame.left;
  const std::int32_t window_height = frame.bottom - frame.top;
  const PixelPoint origin = centred_origin(
      GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), window_width, window_height);

  // Declared before the window so that it is deleted only after the controls using it.
  ScopedFont font;
  const std::wstring wide_caption = wide_from_utf8(caption);
  ScopedWindow dialog(CreateWindowExW(kDialogExStyle, kClassName, wide_caption.c_str(),
                                      kDialogStyle, origin.x, origin.y, window_width, window_height,
                                      nullptr, nullptr, instance, nullptr));
  if (!dialog) return std::nullopt;

  font = create_message_font();
  const auto add = [&](const wchar_t* class_name, std::string_view text, DWORD style, int id,
                       const PixelRect& rect) {
    return add_control(dialog.get(), instance, font.get(), class_name, text, style, id, rect);
  };
  add(L"STATIC", prompt, kPromptStyle, kPromptId, layout.prompt);
  const HWND field = add(L"EDIT", "", kFieldStyle, kFieldId, layout.field);
  if (field != nullptr) {
    const std::wstring wide_hint = wide_from_utf8(hint);
    // TRUE: the hint stays while the empty field has the focus, which it has at once.
    SendMessageW(field, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(wide_hint.c_str()));
  }
  add(L"BUTTON", accept_label, kAcceptStyle, IDOK, layout.accept);
  add(L"BUTTON", "Cancel", kCancelStyle, IDCANCEL, layout.cancel);

  ShowWindow(dialog.get(), SW_SHOW);
  SetForegroundWindow(dialog.get());
  SetFocus(field);

  // Every window of the thread is served, so the rest of the program stays responsive.
  std::optional<WPARAM> quit_code;
  MSG message{};
  while (result_slot.pending()) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      quit_code = message.wParam;
      break;
    }
    if (got == -1) break;
    if (IsDialogMessageW(dialog.get(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  // After a choice the window procedure has destroyed the window already. When the loop
  // stopped before one (a quit request or an error), the window must not outlive the
  // call, and the quit request is passed on so that the caller's own loop still ends.
  if (!IsWindow(dialog.get())) dialog.release();
  dialog.reset();
  font.reset();
  if (quit_code) PostQuitMessage(static_cast<int>(*quit_code));
  return result_slot.take();
}

}  // namespace tallow::platform
