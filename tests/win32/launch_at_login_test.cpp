// Launch at Login on Windows: the "tallowmere" Run value, in a scratch HKEY_CURRENT_USER.

#include "platform/autostart.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/environment.h"
#include "tray/platform_tray_host.h"
#include "win32/scratch_registry.h"

namespace tallow {
namespace {

// Launch at Login switched over as the tray's menu does, for `program`.
Result<void> toggle(const std::filesystem::path& program) {
  return platform::is_autostart_enabled() ? platform::disable_autostart() : platform::enable_autostart(program);
}

constexpr wchar_t kRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kName[] = L"tallowmere";

// REG_SZ data as the registry holds it: the text and its terminating NUL.
std::vector<std::uint8_t> sz_data(const std::wstring& text) {
  std::vector<std::uint8_t> data((text.size() + 1) * sizeof(wchar_t));
  std::memcpy(data.data(), text.c_str(), data.size());
  return data;
}

void expect_run_value(const std::wstring& text) {
  const auto value = test::read_value(kRun, kName);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
  // The byte count includes the NUL: 2 × (units + 1).
  EXPECT_EQ(value->data, sz_data(text));
}

TEST(RunValue, ToggleWritesTheQuotedPathAndDeletesAnyValue) {
  const test::ScratchCurrentUser user;
  const std::filesystem::path program = L"C:\\Program Files\\Tallow Mere\\tallowmere-tray.exe";
  // A fresh profile may have no Run key at all: the first write creates it.
  ASSERT_FALSE(test::key_exists(kRun));
  EXPECT_FALSE(platform::is_autostart_enabled());

  ASSERT_TRUE(toggle(program).ok());
  expect_run_value(L"\"C:\\Program Files\\Tallow Mere\\tallowmere-tray.exe\"");
  EXPECT_TRUE(platform::is_autostart_enabled());

  ASSERT_TRUE(toggle(program).ok());
  EXPECT_FALSE(test::read_value(kRun, kName));
  EXPECT_TRUE(test::key_exists(kRun));
  EXPECT_FALSE(platform::is_autostart_enabled());

  // A value left by a copy elsewhere counts as on, and switching off deletes it.
  test::write_string(kRun, kName, L"\"D:\\old copy\\tallowmere-tray.exe\" --whatever");
  EXPECT_TRUE(platform::is_autostart_enabled());
  ASSERT_TRUE(toggle(program).ok());
  EXPECT_FALSE(test::read_value(kRun, kName));

  // A value of another type does not start anything: off, and switching on replaces it.
  test::write_dword(kRun, kName, 1);
  EXPECT_FALSE(platform::is_autostart_enabled());
  ASSERT_TRUE(toggle(program).ok());
  expect_run_value(L"\"C:\\Program Files\\Tallow Mere\\tallowmere-tray.exe\"");
  EXPECT_TRUE(platform::is_autostart_enabled());

  // Other programs' values are left alone.
  test::write_string(kRun, L"someone else", L"C:\\x.exe");
  ASSERT_TRUE(toggle(program).ok());
  EXPECT_TRUE(test::read_value(kRun, L"someone else"));
}

TEST(RunValue, WithoutAPathTheRunningExecutableIsWritten) {
  const test::ScratchCurrentUser user;
  ASSERT_TRUE(PlatformTrayHost().toggle_launch_at_login().ok());
  wchar_t self[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  ASSERT_GT(length, 0u);
  expect_run_value(L"\"" + std::wstring(self, length) + L"\"");
  ASSERT_TRUE(PlatformTrayHost().toggle_launch_at_login().ok());
  EXPECT_FALSE(platform::is_autostart_enabled());
}

TEST(RunValue, APathThatIsNotUnicodeIsRefusedAndNothingWritten) {
  const test::ScratchCurrentUser user;
  const std::filesystem::path program = std::wstring(L"C:\\tray") + wchar_t(0xD800) + L".exe";
  const auto refused = toggle(program);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "The program's path is not valid Unicode: C:\\tray\xEF\xBF\xBD.exe");
  EXPECT_FALSE(test::key_exists(kRun));
}

}  // namespace
}  // namespace tallow
