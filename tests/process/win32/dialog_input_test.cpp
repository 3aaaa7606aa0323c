// The input dialog driven as a person drives it: keys and clicks go in through
// SendInput, and every row of the table is one more dialog of the same helper process.

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/text.h"
#include "platform/environment.h"
#include "agent_side/agent_side.h"
#include "platform/process.h"
#include "support/test_support.h"
#include "support/process_support.h"

namespace tallow {
namespace {

using namespace std::chrono_literals;

// The field's text; GetWindowTextW would not ask a window of another process.
std::u16string field_text_of(HWND field) {
  std::u16string text(256, u'\0');
  const LRESULT length =
      SendMessageW(field, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

INPUT key(WORD vk, WORD unit, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = unit != 0 ? unit : static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = flags;
  return input;
}

INPUT mouse(POINT at, DWORD flags) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = at.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = at.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
  return input;
}

void send(std::vector<INPUT> inputs) {
  ASSERT_EQ(SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)),
            inputs.size());
}

using Step = std::function<void(HWND dialog)>;

// Types text as Unicode key strokes, one per UTF-16 unit, and waits until the field shows it.
Step type(std::string text) {
  return [units = utf8_to_utf16(text)](HWND dialog) {
    const std::u16string expected = field_text_of(GetDlgItem(dialog, 100)) + units;
    std::vector<INPUT> inputs;
    for (const char16_t unit : units) {
      inputs.push_back(key(0, unit, KEYEVENTF_UNICODE));
      inputs.push_back(key(0, unit, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
    }
    send(inputs);
    EXPECT_TRUE(
        test::wait_until([&] { return field_text_of(GetDlgItem(dialog, 100)) == expected; }));
  };
}

// Presses the keys in order and lets them go in reverse, as a chord.
Step press(std::vector<WORD> keys) {
  return [keys](HWND) {
    std::vector<INPUT> inputs;
    for (const WORD vk : keys) inputs.push_back(key(vk, 0, 0));
    for (auto vk = keys.rbegin(); vk != keys.rend(); ++vk)
      inputs.push_back(key(*vk, 0, KEYEVENTF_KEYUP));
    send(inputs);
  };
}

// Clicks the caption's close box, found where the window itself says it is.
void click_close_box(HWND dialog) {
  RECT frame;
  GetWindowRect(dialog, &frame);
  for (LONG y = frame.top; y < frame.bottom; ++y) {
    for (LONG x = frame.right - 1; x > frame.left; --x) {
      if (SendMessageW(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y)) != HTCLOSE) continue;
      const POINT at{x - 4, y + 4};
      ASSERT_EQ(WindowFromPoint(at), dialog) << "no caption on the screen: with no window manager, "
                                                "Wine must draw it (X11 Driver, Managed=N)";
      return send({mouse(at, MOUSEEVENTF_MOVE), mouse(at, MOUSEEVENTF_LEFTDOWN),
                   mouse(at, MOUSEEVENTF_LEFTUP)});
    }
  }
  FAIL() << "no close box";
}

// Puts UTF-16 units into the field directly, for what no keyboard can type.
Step set_field(std::u16string units) {
  return [units](HWND dialog) {
    SendMessageW(GetDlgItem(dialog, 100), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(units.c_str()));
  };
}

// The dialog of process `pid`, once it has the foreground and its field the focus.
HWND find_dialog(std::uint32_t pid) {
  for (HWND window = nullptr;
       (window = FindWindowExW(nullptr, window, L"tallowmereAsk", nullptr));) {
    DWORD owner = 0;
    GUITHREADINFO focus{};
    focus.cbSize = sizeof focus;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, &owner), &focus) && owner == pid &&
        GetForegroundWindow() == window && focus.hwndFocus == GetDlgItem(window, 100)) {
      return window;
    }
  }
  return nullptr;
}

TEST(DialogInput, EachDialogAnswersWhatThePersonDid) {
  struct Case {
    std::string name;
    std::vector<Step> steps;
    std::optional<std::string> expected;
  };
  const std::string beyond_bmp = "code \U0001F600\U0001D11E\U00020000";
  const std::vector<Case> cases = {
      {"typed text and Enter accepts", {type("ABC-123 xyz"), press({VK_RETURN})}, "ABC-123 xyz"},
      {"Escape cancels", {type("abc"), press({VK_ESCAPE})}, std::nullopt},
      {"Enter in the empty field gives empty text", {press({VK_RETURN})}, ""},
      {"blanks around the text are kept",
       {type("  \u3000padded\u00A0 "), press({VK_RETURN})},
       "  \u3000padded\u00A0 "},
      {"the close box cancels", {type("abc"), click_close_box}, std::nullopt},
      {"Alt+F4 cancels", {type("abc"), press({VK_MENU, VK_F4})}, std::nullopt},
      {"characters beyond the BMP come back intact",
       {type(beyond_bmp), press({VK_RETURN})},
       beyond_bmp},
      {"Tab, Tab and Enter press Cancel",
       {type("abc"), press({VK_TAB}), press({VK_TAB}), press({VK_RETURN})},
       std::nullopt},
      {"Tab and Space press the accept button",
       {type("via tab"), press({VK_TAB}), press({VK_SPACE})},
       "via tab"},
      {"Shift+Tab from the field reaches Cancel",
       {type("abc"), press({VK_SHIFT, VK_TAB}), press({VK_SPACE})},
       std::nullopt},
      {"an unpaired surrogate comes back as U+FFFD",
       {set_field(u"a\xD800z"), press({VK_RETURN})},
       "a\uFFFDz"},
  };

  test::TempDir dir("dialog-input");
  auto pid =
      tallow::agent_side::spawn_detached(test::program_path("ask_text_probe"),
                               {platform::path_text(dir.path()), std::to_string(cases.size())});
  ASSERT_TRUE(pid.ok()) << pid.error().message;
  // A failed step must not leave the helper's dialog behind for the tests after this one.
  const std::shared_ptr<void> end_helper(nullptr, [&](void*) {
    if (test::is_process_running(*pid)) test::kill_process(*pid);
  });
  for (std::size_t n = 1; n <= cases.size(); ++n) {
    const Case& c = cases[n - 1];
    SCOPED_TRACE(c.name);
    HWND dialog = nullptr;
    ASSERT_TRUE(test::wait_until([&] { return (dialog = find_dialog(*pid)) != nullptr; }, 60s));
    for (const Step& step : c.steps) step(dialog);
    // Never empty once readable: the writer may still hold the renamed file for a moment.
    std::string answer;
    const auto answer_file = dir / ("answer-" + std::to_string(n));
    ASSERT_TRUE(
        test::wait_until([&] { return !(answer = test::read_file(answer_file)).empty(); }, 60s));
    EXPECT_EQ(answer, c.expected ? "text:" + *c.expected : "none");
  }
  EXPECT_TRUE(test::wait_until([&] { return !test::is_process_running(*pid); }));
}

}  // namespace
}  // namespace tallow
