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
#include "platform/process.h"
#include "support/test_support.h"

namespace tallow {
namespace {

using namespace std::chrono_literals;

struct Dialog {
  HWND window = nullptr;
  HWND field = nullptr;
};

// The text of a window of another process (GetWindowTextW would not ask it).
std::u16string window_text(HWND window) {
  std::u16string text(static_cast<std::size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0)) + 1, u'\0');
  text.resize(static_cast<std::size_t>(
      SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

void send_inputs(std::vector<INPUT> inputs) {
  ASSERT_EQ(SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)), inputs.size());
}

INPUT key_input(WORD vk, WORD unit, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = unit != 0 ? unit : static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = flags;
  return input;
}

using Step = std::function<void(const Dialog&)>;

// Types text as Unicode key strokes, one per UTF-16 unit, and waits until the field shows it.
Step type(std::string text) {
  return [text](const Dialog& dialog) {
    const std::u16string units = utf8_to_utf16(text);
    const std::u16string before = window_text(dialog.field);
    std::vector<INPUT> inputs;
    for (const char16_t unit : units) {
      inputs.push_back(key_input(0, unit, KEYEVENTF_UNICODE));
      inputs.push_back(key_input(0, unit, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
    }
    send_inputs(inputs);
    EXPECT_TRUE(test::wait_until([&] { return window_text(dialog.field) == before + units; }));
  };
}

// Presses the keys in order and lets them go in reverse, as a chord.
Step press(std::vector<WORD> keys) {
  return [keys](const Dialog&) {
    std::vector<INPUT> inputs;
    for (const WORD vk : keys) inputs.push_back(key_input(vk, 0, 0));
    for (auto vk = keys.rbegin(); vk != keys.rend(); ++vk) inputs.push_back(key_input(*vk, 0, KEYEVENTF_KEYUP));
    send_inputs(inputs);
  };
}

// Clicks the caption's close box, found where the window itself says it is.
Step click_close_box() {
  return [](const Dialog& dialog) {
    RECT frame;
    ASSERT_TRUE(GetWindowRect(dialog.window, &frame));
    RECT client;
    GetClientRect(dialog.window, &client);
    MapWindowPoints(dialog.window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    std::optional<POINT> box;
    for (LONG y = frame.top; y < client.top && !box; ++y) {
      for (LONG x = frame.right - 1; x > frame.left && !box; --x) {
        if (SendMessageW(dialog.window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) box = POINT{x - 4, y + 4};
      }
    }
    ASSERT_TRUE(box) << "no close box in the caption";
    ASSERT_EQ(WindowFromPoint(*box), dialog.window)
        << "the caption is not on the screen: with no window manager, Wine must draw it (X11 Driver, Managed=N)";
    INPUT click[3]{};
    for (INPUT& input : click) input.type = INPUT_MOUSE;
    click[0].mi.dx = box->x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    click[0].mi.dy = box->y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    click[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    click[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    click[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    send_inputs({click[0], click[1], click[2]});
  };
}

// Puts text into the field directly, for what no keyboard can type.
Step set_field(std::u16string units) {
  return [units](const Dialog& dialog) {
    SendMessageW(dialog.field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(units.c_str()));
  };
}

// The visible dialog of process `pid`, once it has the foreground and the field the focus.
std::optional<Dialog> find_dialog(std::uint32_t pid) {
  for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, L"tallowmereAsk", nullptr));) {
    DWORD owner = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &owner);
    GUITHREADINFO focus{};
    focus.cbSize = sizeof focus;
    if (owner != pid || !IsWindowVisible(window) || !GetGUIThreadInfo(thread, &focus)) continue;
    const HWND field = GetDlgItem(window, 100);
    if (GetForegroundWindow() == window && focus.hwndFocus == field) return Dialog{window, field};
  }
  return std::nullopt;
}

struct Case {
  std::string name;
  std::vector<Step> steps;
  std::optional<std::string> expected;
};

TEST(DialogInput, EachDialogAnswersWhatThePersonDid) {
  const std::vector<Case> cases = {
      {"typed text and Enter accepts", {type("ABC-123 xyz"), press({VK_RETURN})}, "ABC-123 xyz"},
      {"Escape cancels", {type("abc"), press({VK_ESCAPE})}, std::nullopt},
      {"Enter in the empty field gives empty text", {press({VK_RETURN})}, ""},
      {"blanks around the text are kept",
       {type("  \u3000padded text\u00A0 "), press({VK_RETURN})}, "  \u3000padded text\u00A0 "},
      {"the close box cancels", {type("abc"), click_close_box()}, std::nullopt},
      {"Alt+F4 cancels", {type("abc"), press({VK_MENU, VK_F4})}, std::nullopt},
      {"characters beyond the BMP come back intact",
       {type("code \U0001F600\U0001D11E\U00020000"), press({VK_RETURN})}, "code \U0001F600\U0001D11E\U00020000"},
      {"Tab, Tab and Enter press Cancel", {type("abc"), press({VK_TAB}), press({VK_TAB}), press({VK_RETURN})},
       std::nullopt},
      {"Tab and Space press the accept button", {type("via tab"), press({VK_TAB}), press({VK_SPACE})}, "via tab"},
      {"Shift+Tab from the field reaches Cancel", {type("abc"), press({VK_SHIFT, VK_TAB}), press({VK_SPACE})},
       std::nullopt},
      {"an unpaired surrogate comes back as U+FFFD", {set_field(u"a\xD800z"), press({VK_RETURN})}, "a\uFFFDz"},
  };

  test::TempDir dir("dialog-input");
  auto pid = platform::spawn_detached(test::program_path("ask_text_probe"),
                                      {platform::path_text(dir.path()), std::to_string(cases.size())});
  ASSERT_TRUE(pid.ok()) << pid.error().message;
  // A failed step must not leave the helper's dialog behind for the tests after this one.
  const std::shared_ptr<void> end_helper(nullptr, [&](void*) {
    if (platform::is_process_running(*pid)) platform::kill_process(*pid);
  });
  for (std::size_t n = 1; n <= cases.size(); ++n) {
    const Case& c = cases[n - 1];
    SCOPED_TRACE(c.name);
    std::optional<Dialog> dialog;
    ASSERT_TRUE(test::wait_until([&] { return (dialog = find_dialog(*pid)).has_value(); }, 60s));
    for (const Step& step : c.steps) step(*dialog);
    // Never empty once readable: the writer may hold the renamed file open for a moment.
    std::string answer;
    ASSERT_TRUE(test::wait_until([&] { return !(answer = test::read_file(dir / ("answer-" + std::to_string(n)))).empty(); }, 60s));
    EXPECT_EQ(answer, c.expected ? "text:" + *c.expected : "none");
  }
  EXPECT_TRUE(test::wait_until([&] { return !platform::is_process_running(*pid); }));
}

}  // namespace
}  // namespace tallow
