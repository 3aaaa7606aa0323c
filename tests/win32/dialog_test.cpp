// The input dialog's windows as built, read back from the live windows while
// ask_text runs on a thread of its own, as on the tray's main thread.

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <functional>
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
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

std::wstring class_of(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// The rectangle of a control in its dialog's client coordinates.
PixelRect place_of(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

// ask_text on its own thread; `after` runs there once it has returned.
class DialogThread {
 public:
  explicit DialogThread(std::string caption, std::function<void()> after = [] {})
      : thread_([this, caption, after] {
          thread_id_ = GetCurrentThreadId();
          answer_ = ask_text(caption, "Paste the code.", "tallowmered enroll \u2026 --hub=\u2026", "Enroll");
          after();
        }) {}
  ~DialogThread() {
    if (thread_.joinable()) {
      if (HWND window = this->window()) PostMessageW(window, WM_CLOSE, 0, 0);
      thread_.join();
    }
  }

  // The dialog once it is shown with the focus in its field.
  HWND wait_for_window() {
    HWND found = nullptr;
    test::wait_until([&] {
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      found = window();
      return found != nullptr && IsWindowVisible(found) && GetGUIThreadInfo(thread_id_, &info) &&
             info.hwndFocus == GetDlgItem(found, 100);
    });
    return found;
  }

  std::optional<std::string> answer() {
    thread_.join();
    return answer_;
  }
  DWORD thread_id() const { return thread_id_; }

 private:
  HWND window() const {
    HWND found = nullptr;
    EnumThreadWindows(
        thread_id_,
        [](HWND window, LPARAM out) {
          if (class_of(window) != L"tallowmereAsk") return TRUE;
          *reinterpret_cast<HWND*>(out) = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
  }

  std::atomic<DWORD> thread_id_{0};
  std::optional<std::string> answer_;
  std::thread thread_;
};

TEST(Win32Dialog, WindowAndControlsAreBuiltAsLaidOut) {
  DialogThread dialog("Enroll \U0001F600 this\u2026");
  const HWND window = dialog.wait_for_window();
  ASSERT_NE(window, nullptr);

  // The window: caption, styles, class, size from the layout, centred on the screen.
  EXPECT_EQ(text_of(window), L"Enroll \xD83D\xDE00 this\u2026");
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) & ~WS_CLIPSIBLINGS, 0x80C80000u | WS_VISIBLE);
  EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & 0x9, 0x9);
  EXPECT_EQ(GetForegroundWindow(), window);
  EXPECT_NE(GetClassLongPtrW(window, GCLP_HICON), 0u) << "icon group 1 of the program";
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND), ULONG_PTR{COLOR_WINDOW + 1});
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_HCURSOR), reinterpret_cast<ULONG_PTR>(LoadCursorW(nullptr, IDC_ARROW)));
  const DialogLayout layout = dialog_layout(static_cast<std::int32_t>(GetDpiForSystem()));
  RECT client, frame;
  GetClientRect(window, &client);
  GetWindowRect(window, &frame);
  EXPECT_EQ(client.right, layout.client_width);
  EXPECT_EQ(client.bottom, layout.client_height);
  EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
  EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);

  // The controls in creation (Tab) order, each with the message font.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  const auto font = reinterpret_cast<HFONT>(SendMessageW(GetWindow(window, GW_CHILD), WM_GETFONT, 0, 0));
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
  const Control expected[] = {
      {L"Static", L"Paste the code.", 0x50000000, 0, 0, layout.prompt},
      {L"Edit", L"", 0x50010080, WS_EX_CLIENTEDGE, 100, layout.field},
      {L"Button", L"Enroll", 0x50010001, 0, IDOK, layout.accept},
      {L"Button", L"Cancel", 0x50010000, 0, IDCANCEL, layout.cancel},
  };
  HWND control = GetWindow(window, GW_CHILD);
  for (const Control& c : expected) {
    SCOPED_TRACE(testing::Message() << "control " << c.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(_wcsicmp(class_of(control).c_str(), c.class_name), 0) << class_of(control);
    EXPECT_EQ(text_of(control), c.text);
    EXPECT_EQ(GetWindowLongW(control, GWL_STYLE), c.style);
    EXPECT_EQ(GetWindowLongW(control, GWL_EXSTYLE), c.ex_style);
    EXPECT_EQ(GetDlgCtrlID(control), c.id);
    EXPECT_EQ(place_of(control), c.place);
    EXPECT_EQ(SendMessageW(control, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
    control = GetWindow(control, GW_HWNDNEXT);
  }
  wchar_t cue[64] = {};
  ASSERT_TRUE(SendMessageW(GetDlgItem(window, 100), EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 64))
      << "no cue banner: the program lacks the common controls 6 manifest";
  EXPECT_EQ(std::wstring(cue), L"tallowmered enroll \u2026 --hub=\u2026");

  // The prompt is painted on the window's own background.
  const HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), 0),
            reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW)));
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
  DeleteDC(dc);

  // Commands of other controls change nothing; only the low word of IDCANCEL counts.
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(100, EN_CHANGE), 0);
  EXPECT_TRUE(IsWindow(window));
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0x1234), 0);
  EXPECT_EQ(dialog.answer(), std::nullopt);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(GetObjectType(font), 0u) << "the dialog font outlived the dialog";
}

TEST(Win32Dialog, QuitBeforeAChoiceEndsTheDialogAndIsPassedOn) {
  std::optional<WPARAM> quit_seen;
  DialogThread dialog("Quit", [&] {
    MSG message;
    if (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) quit_seen = message.wParam;
  });
  const HWND window = dialog.wait_for_window();
  ASSERT_NE(window, nullptr);
  const auto font = reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(window, 100), WM_GETFONT, 0, 0));
  SetWindowTextW(GetDlgItem(window, 100), L"typed but not accepted");
  PostThreadMessageW(dialog.thread_id(), WM_QUIT, 42, 0);
  EXPECT_EQ(dialog.answer(), std::nullopt);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(GetObjectType(font), 0u);
  EXPECT_EQ(quit_seen, std::optional<WPARAM>(42));
}

TEST(Win32Dialog, AcceptReadsTheFieldAndASecondDialogStartsAfresh) {
  for (const auto& [text, expected] : {std::pair{L"  x\xD83D\xDE00y\xDC00 ", std::string("  x\U0001F600y\uFFFD ")},
                                       std::pair{L"", std::string()}}) {
    DialogThread dialog("Accept");
    const HWND window = dialog.wait_for_window();
    ASSERT_NE(window, nullptr);
    SetWindowTextW(GetDlgItem(window, 100), text);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(dialog.answer(), std::optional<std::string>(expected));
  }
}

}  // namespace
}  // namespace tallow::platform
