// The application icon file as Windows reads it.

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/win32/wide_text.h"

namespace tallow {
namespace {

TEST(ApplicationIcon, WindowsLoadsEverySize) {
  const std::wstring path = platform::win32::wide_from_utf8(TALLOW_SOURCE_DIR "/res/tallowmere.ico");
  for (const int size : {16, 20, 24, 32, 40, 48, 64, 256}) {
    SCOPED_TRACE(size);
    const HICON icon = static_cast<HICON>(
        LoadImageW(nullptr, path.c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE));
    ASSERT_NE(icon, nullptr) << GetLastError();
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour{};
    ASSERT_EQ(GetObjectW(info.hbmColor, sizeof colour, &colour), static_cast<int>(sizeof colour));
    EXPECT_EQ(colour.bmWidth, size);
    EXPECT_EQ(colour.bmHeight, size);
    EXPECT_EQ(colour.bmBitsPixel, 32);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}

}  // namespace
}  // namespace tallow
