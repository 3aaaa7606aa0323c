// The message box as the user meets it, and the shell's "open".

#include "platform/desktop.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/win32/desktop_win32.h"
#include "platform/win32/wide_text.h"
#include "support/test_support.h"

namespace tallow::platform {
namespace {

TEST(Win32MessageBoxStyle, IsTopmostInFrontWithTheRightIcon) {
  EXPECT_EQ(win32::message_box_style(true), 0x50010u);
  EXPECT_EQ(win32::message_box_style(false), 0x50040u);
}

struct ShownBox {
  std::wstring caption;
  std::wstring text;
  HICON icon = nullptr;
};

BOOL CALLBACK find_icon(HWND child, LPARAM found) {
  if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
  *reinterpret_cast<HICON*>(found) = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
  return FALSE;
}

// Waits for this process's message box, reads it and presses its OK button.
ShownBox read_and_dismiss_box(const std::wstring& caption) {
  ShownBox shown;
  HWND box = nullptr;
  // Visible only once its set-up is done.
  test::wait_until([&] {
    box = FindWindowW(L"#32770", caption.c_str());
    return box != nullptr && IsWindowVisible(box);
  });
  if (box == nullptr) return shown;
  wchar_t text[256] = {};
  GetWindowTextW(box, text, 256);
  shown.caption = text;
  GetDlgItemTextW(box, 0xFFFF, text, 256);  // the static that holds a message box's text
  shown.text = text;
  EnumChildWindows(box, &find_icon, reinterpret_cast<LPARAM>(&shown.icon));
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return shown;
}

// Wine 8 places only system-modal boxes topmost and ignores MB_TOPMOST, so the box's
// place in the z-order says nothing here; the style it is given is checked above.
TEST(Win32ShowMessage, ShowsCaptionTextAndIconUntilDismissed) {
  struct Case {
    const char* name;
    bool is_error;
    const wchar_t* icon;
  };
  for (const Case& c : {Case{"error", true, IDI_ERROR}, Case{"information", false, IDI_INFORMATION}}) {
    SCOPED_TRACE(c.name);
    const std::string caption = std::string("Enrollment failed ") + c.name;
    const std::string text = "No enrollment code in \xE2\x80\x9C" "abc\xE2\x80\x9D.";
    ShownBox shown;
    std::thread reader([&] { shown = read_and_dismiss_box(win32::wide_from_utf8(caption)); });
    show_message(caption, text, c.is_error);  // returns once the reader pressed OK
    reader.join();
    EXPECT_EQ(shown.caption, win32::wide_from_utf8(caption));
    EXPECT_EQ(shown.text, L"No enrollment code in \u201Cabc\u201D.");
    EXPECT_EQ(shown.icon, LoadIconW(nullptr, c.icon));
  }
}

TEST(Win32OpenWithShell, OpensAPathWithAnyCharacters) {
  const test::TempDir dir;
  const std::filesystem::path folder = dir.path() / std::filesystem::path(u8"Sh\u00EBll \u2713 & co");
  std::filesystem::create_directories(folder);
  const std::filesystem::path script = folder / "open me.cmd";
  test::write_file(script, "@echo opened> \"%~dp0opened.txt\"\r\n");
  open_with_shell(win32::utf8_from_wide(script.wstring()));
  EXPECT_TRUE(test::wait_until([&] { return std::filesystem::exists(folder / "opened.txt"); }));
  // A target that does not exist fails without a word.
  open_with_shell(win32::utf8_from_wide((folder / "missing.txt").wstring()));
}

}  // namespace
}  // namespace tallow::platform
