// The message box as the user meets it, and the shell's "open".

#include "platform/desktop.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/win32/wide_text.h"
#include "support/test_support.h"

namespace tallow::platform {
namespace {

BOOL CALLBACK find_icon(HWND child, LPARAM found) {
  if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
  *reinterpret_cast<HICON*>(found) = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
  return FALSE;
}

// Wine 8 places only system-modal boxes topmost and ignores MB_TOPMOST, so the box's
// place in the z-order says nothing here.
TEST(Win32ShowMessage, ShowsCaptionTextAndIconUntilDismissed) {
  for (const bool is_error : {true, false}) {
    const std::wstring caption = is_error ? L"Enrollment failed" : L"Enrolled";
    std::wstring text(256, L'\0');
    HICON icon = nullptr;
    std::thread reader([&] {
      HWND box = nullptr;
      // Visible only once its set-up is done.
      test::wait_until([&] { return (box = FindWindowW(L"#32770", caption.c_str())) && IsWindowVisible(box); });
      text.resize(GetDlgItemTextW(box, 0xFFFF, text.data(), 256));  // a message box's text
      EnumChildWindows(box, &find_icon, reinterpret_cast<LPARAM>(&icon));
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    show_message(win32::utf8_from_wide(caption), "No enrollment code in \u201Cabc & co\u201D.", is_error);
    reader.join();  // show_message returned: the box was dismissed
    EXPECT_EQ(text, L"No enrollment code in \u201Cabc & co\u201D.");
    EXPECT_EQ(icon, LoadIconW(nullptr, is_error ? IDI_ERROR : IDI_INFORMATION));
  }
}

TEST(Win32OpenWithShell, OpensAPathWithAnyCharacters) {
  const test::TempDir dir;
  const std::filesystem::path folder = dir.path() / std::filesystem::path(u8"Sh\u00EBll \u2713 & co");
  std::filesystem::create_directories(folder);
  const std::filesystem::path script = folder / "open me.cmd";
  test::write_file(script, "@echo opened> \"%~dp0opening.txt\"\r\n@ren \"%~dp0opening.txt\" opened.txt\r\n");
  open_with_shell(win32::utf8_from_wide(script.wstring()));
  EXPECT_TRUE(test::wait_until([&] { return std::filesystem::exists(folder / "opened.txt"); }));
  // The script stays open until its interpreter ends; the scratch directory can go after.
  std::error_code error;
  EXPECT_TRUE(test::wait_until([&] { return std::filesystem::remove(script, error); }));
  // A target that does not exist fails without a word.
  open_with_shell(win32::utf8_from_wide((folder / "missing.txt").wstring()));
}

}  // namespace
}  // namespace tallow::platform
