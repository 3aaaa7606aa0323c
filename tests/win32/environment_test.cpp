#include <windows.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/win32/process/environment_block.h"
#include "platform/win32/wide_text.h"

namespace tallow::platform {
namespace {

// Sets a variable of this process for the length of a test.
class ScopedVariable {
 public:
  ScopedVariable(std::wstring name, const wchar_t* value) : name_(std::move(name)) {
    EXPECT_TRUE(SetEnvironmentVariableW(name_.c_str(), value));
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), nullptr); }

 private:
  std::wstring name_;
};

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

std::vector<EnvironmentVariable> named(const std::vector<EnvironmentVariable>& all,
                                       std::string_view name) {
  std::vector<EnvironmentVariable> found;
  for (const auto& v : all) {
    if (same_name(v.name, name)) found.push_back(v);
  }
  return found;
}

TEST(EnvironmentVariable, ReadsUnicodeAndEmptyValues) {
  const ScopedVariable text(L"TALLOW_TEST_TEXT", L"J\u00f6rg \U0001F600");
  const ScopedVariable empty(L"TALLOW_TEST_EMPTY", L"");
  EXPECT_EQ(environment_variable("TALLOW_TEST_TEXT"), "J\u00f6rg \U0001F600");
  EXPECT_EQ(environment_variable("tallow_test_text"), "J\u00f6rg \U0001F600");
  EXPECT_EQ(environment_variable("TALLOW_TEST_EMPTY"), "");
  EXPECT_EQ(environment_variable("TALLOW_TEST_UNSET"), std::nullopt);
  EXPECT_EQ(environment_variable(""), std::nullopt);
  EXPECT_EQ(environment_variable("TALLOW_TEST_TEXT=J"), std::nullopt);
  EXPECT_EQ(environment_variable(std::string_view("TALLOW_TEST_TEXT\0X", 18)), std::nullopt);
}

TEST(EnvironmentVariable, ReadsAValueLongerThanTheFirstBuffer) {
  const std::wstring long_value(5000, L'v');
  const ScopedVariable variable(L"TALLOW_TEST_LONG", long_value.c_str());
  EXPECT_EQ(environment_variable("TALLOW_TEST_LONG"), std::string(5000, 'v'));
}

TEST(EnvironmentVariable, AnUnpairedSurrogateIsAbsentButStillAPath) {
  const wchar_t value[] = {L'C', L':', L'\\', 0xD800, L'x', 0};
  const ScopedVariable variable(L"TALLOW_TEST_BROKEN", value);
  EXPECT_EQ(environment_variable("TALLOW_TEST_BROKEN"), std::nullopt);
  const auto path = environment_path("TALLOW_TEST_BROKEN");
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->native(), std::wstring(value));
  EXPECT_EQ(path_text(*path), "C:\\\xEF\xBF\xBDx");
  EXPECT_EQ(environment_path("TALLOW_TEST_UNSET"), std::nullopt);
}

TEST(EnvironmentWith, OverridesReplaceInheritedValuesIgnoringCase) {
  const ScopedVariable path(L"TALLOW_TEST_PATH", L"inherited");
  const auto environment = environment_with({{"tallow_test_path", "C:\\override"}});
  const auto found = named(environment, "TALLOW_TEST_PATH");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].value, "C:\\override");
}

TEST(EnvironmentWith, PathOverridesPATH) {
  const auto environment = environment_with({{"path", "C:\\only"}});
  const auto found = named(environment, "PATH");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].value, "C:\\only");
}

TEST(EnvironmentWith, LaterOverridesWinAndImpossibleOnesAreSkipped) {
  const auto environment = environment_with({
      {"TALLOW_TEST_NEW", "first"},
      {"Tallow_Test_New", "second \u00e9"},
      {"", "empty name"},
      {"TALLOW=TEST", "equals in name"},
      {std::string("TALLOW_TEST_NUL\0X", 17), "nul in name"},
      {"TALLOW_TEST_NUL_VALUE", std::string("a\0b", 3)},
  });
  const auto found = named(environment, "TALLOW_TEST_NEW");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].value, "second \u00e9");
  for (const auto& variable : environment) {
    EXPECT_FALSE(variable.name.empty());
    EXPECT_EQ(variable.name.find('\0'), std::string::npos);
    EXPECT_EQ(variable.value.find('\0'), std::string::npos);
    EXPECT_EQ(variable.name.find('=', 1), std::string::npos) << variable.name;
  }
  EXPECT_TRUE(named(environment, "TALLOW_TEST_NUL_VALUE").empty());
}

TEST(EnvironmentWith, KeepsTheShellsDriveEntries) {
  // cmd.exe keeps each drive's directory as "=C:"; a child started from us needs them.
  if (!SetEnvironmentVariableW(L"=T:", L"T:\\tallow")) GTEST_SKIP() << "cannot set =T:";
  const auto environment = environment_with({});
  SetEnvironmentVariableW(L"=T:", nullptr);
  const auto found = named(environment, "=T:");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].value, "T:\\tallow");
}

TEST(EnvironmentWith, MatchesTheProcessEnvironmentWithoutOverrides) {
  const ScopedVariable variable(L"TALLOW_TEST_SEEN", L"\u00fc");
  const auto environment = environment_with({});
  const auto found = named(environment, "TALLOW_TEST_SEEN");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].value, "\u00fc");
  for (const auto& v : environment) {
    if (v.name.empty() || v.name[0] == '=') continue;
    EXPECT_EQ(environment_variable(v.name), v.value) << v.name;
  }
}

TEST(EnvironmentBlock, SortsIgnoringCaseAndKeepsTheLastOfEqualNames) {
  struct Case {
    std::vector<EnvironmentVariable> variables;
    std::wstring block;
  };
  const Case cases[] = {
      {{}, std::wstring(L"\0\0", 2)},
      {{{"A", "1"}}, std::wstring(L"A=1\0\0", 5)},
      {{{"b", "2"}, {"A", "1"}, {"_c", "3"}}, std::wstring(L"A=1\0b=2\0_c=3\0\0", 14)},
      {{{"Path", "old"}, {"PATH", "new"}}, std::wstring(L"PATH=new\0\0", 10)},
      {{{"=C:", "C:\\"}, {"ALLUSERSPROFILE", "x"}}, std::wstring(L"=C:=C:\\\0ALLUSERSPROFILE=x\0\0", 27)},
      {{{"", "x"}, {"A=B", "x"}, {"E", ""}}, std::wstring(L"E=\0\0", 4)},
      {{{"AB", "2"}, {"A", "1"}}, std::wstring(L"A=1\0AB=2\0\0", 10)},
      {{{"\u00e9", "e"}}, std::wstring(L"\u00e9=e\0\0", 5)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(win32::environment_block(c.variables), c.block)
        << win32::utf8_from_wide(c.block);
  }
}

TEST(ExecutablePath, NamesThisTestProgram) {
  const auto path = executable_path();
  ASSERT_TRUE(path.has_value());
  EXPECT_TRUE(path->is_absolute());
  EXPECT_EQ(path->filename(), "tallow_unit_tests.exe");
  EXPECT_TRUE(std::filesystem::is_regular_file(*path));
  EXPECT_EQ(executable_suffix(), ".exe");
}

TEST(PathText, RoundTripsUnicodeAndReplacesBrokenSurrogates) {
  const std::string text = "C:\\Users\\J\u00f6rg\\\U0001F600";
  EXPECT_EQ(path_text(path_from_text(text)), text);
  EXPECT_EQ(path_from_text(text).native(), L"C:\\Users\\J\u00f6rg\\\U0001F600");
  const wchar_t broken[] = {L'a', 0xDC00, L'b', 0};
  EXPECT_EQ(path_text(std::filesystem::path(broken)), "a\xEF\xBF\xBD" "b");
}

TEST(CurrentProcessId, IsThisProcess) {
  EXPECT_EQ(current_process_id(), GetCurrentProcessId());
}

}  // namespace
}  // namespace tallow::platform
