// The input dialog's windows as built, read back from the live windows while
// ask_text runs on a thread of its own, as on the tray's main thread.

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "dialog/dialog_layout.h"
#include "platform/dialog.h"
#include "support/dialog_print.h"
#include "support/test_support.h"

namespace tallow::platform {
namespace {

std::wstring text_of(HWND window) {
  wchar_t text[128] = {};
  GetWindowTextW(window, text, 128);
  return text;
}

struct DialogThread {
  std::atomic<DWORD> id{0};
  std::optional<std::string> answer;
  std::optional<WPARAM> quit_after;  // a quit request found on the thread after the dialog
  std::thread thread{[this] {
    id = GetCurrentThreadId();
    answer = ask_text("Enroll \U0001F600\u2026", "Paste the code.",
                      "tallowmered enroll \u2026 --hub=\u2026", "Enroll");
    MSG message;
    if (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) quit_after = message.wParam;
  }};

  ~DialogThread() {
    if (!thread.joinable()) return;
    if (HWND left = FindWindowW(L"tallowmereAsk", nullptr)) PostMessageW(left, WM_CLOSE, 0, 0);
    thread.join();
  }

  // The dialog, once it is shown with the focus in its field.
  HWND window() const {
    HWND found = nullptr;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    test::wait_until([&] {
      found = FindWindowW(L"tallowmereAsk", nullptr);
      return found && GetGUIThreadInfo(id, &info) && info.hwndFocus == GetDlgItem(found, 100);
    });
    return found;
  }
};

TEST(Win32Dialog, IsBuiltAsLaidOutAndLeavesNothingBehind) {
  DialogThread dialog;
  const HWND window = dialog.window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(text_of(window), L"Enroll \xD83D\xDE00\u2026");
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) & ~WS_CLIPSIBLINGS,
            0x80C80000u | WS_VISIBLE);
  EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & 0x9, 0x9);
  EXPECT_EQ(GetForegroundWindow(), window);
  EXPECT_NE(GetClassLongPtrW(window, GCLP_HICON), 0u) << "icon group 1 of the program";
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND), ULONG_PTR{COLOR_WINDOW + 1});
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_HCURSOR),
            reinterpret_cast<ULONG_PTR>(LoadCursorW(nullptr, IDC_ARROW)));
  const DialogLayout layout = dialog_layout(static_cast<std::int32_t>(GetDpiForSystem()));
  RECT client, frame;
  GetClientRect(window, &client);
  GetWindowRect(window, &frame);
  EXPECT_EQ((PixelPoint{client.right, client.bottom}),
            (PixelPoint{layout.client_width, layout.client_height}));
  EXPECT_EQ((PixelPoint{frame.left, frame.top}),
            centred_origin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                           frame.right - frame.left, frame.bottom - frame.top));

  // The controls in creation (Tab) order, all with the system's message font.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HWND control = GetWindow(window, GW_CHILD);
  const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  LOGFONTW used{};
  ASSERT_EQ(GetObjectW(font, sizeof used, &used), static_cast<int>(sizeof used));
  EXPECT_EQ(std::wstring(used.lfFaceName), metrics.lfMessageFont.lfFaceName);
  EXPECT_EQ(used.lfHeight, metrics.lfMessageFont.lfHeight);
  struct Control {
    const wchar_t* class_name;
    const wchar_t* text;
    LONG style, ex_style;
    int id;
    PixelRect place;
  };
  for (const Control& c : {Control{L"Static", L"Paste the code.", 0x50000000, 0, 0, layout.prompt},
                           Control{L"Edit", L"", 0x50010080, WS_EX_CLIENTEDGE, 100, layout.field},
                           Control{L"Button", L"Enroll", 0x50010001, 0, IDOK, layout.accept},
                           Control{L"Button", L"Cancel", 0x50010000, 0, IDCANCEL, layout.cancel}}) {
    SCOPED_TRACE(testing::Message() << "control " << c.id);
    ASSERT_NE(control, nullptr);
    wchar_t class_name[32] = {};
    GetClassNameW(control, class_name, 32);
    EXPECT_EQ(_wcsicmp(class_name, c.class_name), 0) << class_name;
    EXPECT_EQ(text_of(control), c.text);
    EXPECT_EQ(GetWindowLongW(control, GWL_STYLE), c.style);
    EXPECT_EQ(GetWindowLongW(control, GWL_EXSTYLE), c.ex_style);
    EXPECT_EQ(GetDlgCtrlID(control), c.id);
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ((PixelRect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}),
              c.place);
    EXPECT_EQ(SendMessageW(control, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
    control = GetWindow(control, GW_HWNDNEXT);
  }
  wchar_t cue[64] = {};
  ASSERT_TRUE(
      SendMessageW(GetDlgItem(window, 100), EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 64))
      << "no cue banner: the program lacks the manifest that asks for common controls 6";
  EXPECT_EQ(std::wstring(cue), L"tallowmered enroll \u2026 --hub=\u2026");

  // The prompt is painted on the window's own background.
  const HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), 0),
            reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW)));
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
  DeleteDC(dc);

  // Other controls' commands change nothing; of IDCANCEL only the low word counts.
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(100, EN_CHANGE), 0);
  EXPECT_TRUE(IsWindow(window));
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0x1234), 0);
  dialog.thread.join();
  EXPECT_EQ(dialog.answer, std::nullopt);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(GetObjectType(font), 0u) << "the dialog font outlived the dialog";
  EXPECT_EQ(dialog.quit_after, std::nullopt);
}

TEST(Win32Dialog, QuitBeforeAChoiceEndsTheDialogAndIsPassedOn) {
  DialogThread dialog;
  const HWND window = dialog.window();
  ASSERT_NE(window, nullptr);
  const auto font =
      reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(window, 100), WM_GETFONT, 0, 0));
  SetWindowTextW(GetDlgItem(window, 100), L"typed, not accepted");
  PostThreadMessageW(dialog.id, WM_QUIT, 42, 0);
  dialog.thread.join();
  EXPECT_EQ(dialog.answer, std::nullopt);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(GetObjectType(font), 0u);
  EXPECT_EQ(dialog.quit_after, std::optional<WPARAM>(42));
}

}  // namespace
}  // namespace tallow::platform
