// The taskbar theme from the user's SystemUsesLightTheme setting.

#include "platform/theme.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "win32/scratch_registry.h"

namespace tallow::platform {
namespace {

constexpr wchar_t kPersonalize[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kValue[] = L"SystemUsesLightTheme";

TEST(LightTheme, OnlyTheDwordOneIsLight) {
  struct Case {
    const char* name;
    std::function<void()> set_up;
    bool light;
  };
  const std::uint64_t one64 = 1;
  const std::vector<std::uint8_t> one_as_bytes = {1, 0, 0, 0};
  const std::vector<Case> cases = {
      {"no Personalize key", [] {}, false},
      {"key without the value", [] { test::write_string(kPersonalize, L"AppsUseLightTheme", L"x"); }, false},
      {"DWORD 0", [] { test::write_dword(kPersonalize, kValue, 0); }, false},
      {"DWORD 1", [] { test::write_dword(kPersonalize, kValue, 1); }, true},
      {"DWORD 2", [] { test::write_dword(kPersonalize, kValue, 2); }, false},
      {"DWORD 0x101", [] { test::write_dword(kPersonalize, kValue, 0x101); }, false},
      {"string \"1\"", [] { test::write_string(kPersonalize, kValue, L"1"); }, false},
      {"QWORD 1", [&] { test::write_value(kPersonalize, kValue, REG_QWORD, &one64, 8); }, false},
      {"binary 01 00 00 00",
       [&] { test::write_value(kPersonalize, kValue, REG_BINARY, one_as_bytes.data(), 4); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const test::ScratchCurrentUser user;
    c.set_up();
    EXPECT_EQ(is_light_theme(), c.light);
  }
}

TEST(LightTheme, FollowsAChangeAtOnce) {
  const test::ScratchCurrentUser user;
  test::write_dword(kPersonalize, kValue, 1);
  EXPECT_TRUE(is_light_theme());
  test::write_dword(kPersonalize, kValue, 0);
  EXPECT_FALSE(is_light_theme());
  test::write_dword(kPersonalize, kValue, 1);
  EXPECT_TRUE(is_light_theme());
  // The key is kept open between reads; deleted and made again, it is still followed.
  ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, kPersonalize), ERROR_SUCCESS);
  EXPECT_FALSE(is_light_theme());
  EXPECT_FALSE(is_light_theme());
  test::write_dword(kPersonalize, kValue, 1);
  EXPECT_TRUE(is_light_theme());
}

}  // namespace
}  // namespace tallow::platform
