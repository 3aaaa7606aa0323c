// The environment handed to the agent, and this process's own on Linux.

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "posix/scoped_variables.h"

extern char** environ;

namespace tallow::platform {
namespace {

using test::ScopedVariables;

std::vector<EnvironmentVariable> named(const std::vector<EnvironmentVariable>& all, const std::string& name) {
  std::vector<EnvironmentVariable> found;
  for (const auto& variable : all) {
    if (variable.name == name) found.push_back(variable);
  }
  return found;
}

struct OverrideCase {
  const char* name;
  std::vector<EnvironmentVariable> overrides;
  // What TALLOW_ENV_A and TALLOW_ENV_B end up as; absent: not set.
  std::optional<std::string> a;
  std::optional<std::string> b;
  friend void PrintTo(const OverrideCase& c, std::ostream* out) { *out << c.name; }
};

class PosixEnvironmentWith : public ::testing::TestWithParam<OverrideCase> {};

TEST_P(PosixEnvironmentWith, AppliesOverridesInOrder) {
  ScopedVariables scope;
  scope.set("TALLOW_ENV_A", "inherited");
  ::unsetenv("TALLOW_ENV_B");
  const auto result = environment_with(GetParam().overrides);
  for (const auto& [name, expected] : {std::pair{"TALLOW_ENV_A", GetParam().a}, std::pair{"TALLOW_ENV_B", GetParam().b}}) {
    const auto found = named(result, name);
    if (expected) {
      ASSERT_EQ(found.size(), 1u) << name;
      EXPECT_EQ(found[0].value, *expected) << name;
    } else {
      EXPECT_TRUE(found.empty()) << name;
    }
  }
  for (const auto& variable : result) {
    EXPECT_FALSE(variable.name.find('=') != std::string::npos || variable.name.find('\0') != std::string::npos ||
                 variable.value.find('\0') != std::string::npos)
        << variable.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PosixEnvironmentWith,
    ::testing::Values(
        OverrideCase{"none", {}, "inherited", std::nullopt},
        OverrideCase{"replaces_inherited", {{"TALLOW_ENV_A", "new"}}, "new", std::nullopt},
        OverrideCase{"adds_new", {{"TALLOW_ENV_B", "added"}}, "inherited", "added"},
        OverrideCase{"later_wins", {{"TALLOW_ENV_B", "one"}, {"TALLOW_ENV_A", "x"}, {"TALLOW_ENV_B", "two"}}, "x", "two"},
        OverrideCase{"empty_value_is_a_value", {{"TALLOW_ENV_A", ""}}, "", std::nullopt},
        OverrideCase{"names_compare_exactly", {{"tallow_env_a", "lower"}}, "inherited", std::nullopt},
        OverrideCase{"empty_name_skipped", {{"", "x"}}, "inherited", std::nullopt},
        OverrideCase{"name_with_equals_skipped", {{"TALLOW_ENV_A=B", "x"}}, "inherited", std::nullopt},
        OverrideCase{"name_with_nul_skipped", {{std::string("TALLOW_ENV_B\0C", 14), "x"}}, "inherited", std::nullopt},
        OverrideCase{"value_with_nul_skipped", {{"TALLOW_ENV_B", std::string("x\0y", 3)}}, "inherited", std::nullopt},
        OverrideCase{"skipped_does_not_undo_earlier", {{"TALLOW_ENV_B", "kept"}, {"TALLOW_ENV_B", std::string("\0", 1)}}, "inherited", "kept"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PosixEnvironmentWith, KeepsTheInheritedOrderAndValuesWithEquals) {
  ScopedVariables scope;
  scope.set("TALLOW_ENV_EQ", "a=b=c");
  const auto result = environment_with({});
  const auto found = named(result, "TALLOW_ENV_EQ");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].value, "a=b=c");
  std::size_t inherited = 0;
  for (char** entry = environ; *entry; ++entry) ++inherited;
  EXPECT_EQ(result.size(), inherited);
}

TEST(PosixEnvironmentVariable, TextMustBeUtf8ButPathsAreRaw) {
  ScopedVariables scope;
  scope.set("TALLOW_ENV_TEXT", "gr\xC3\xBC\xC3\x9F");
  scope.set("TALLOW_ENV_RAW", "/tmp/\xFF\xFE");
  EXPECT_EQ(environment_variable("TALLOW_ENV_TEXT"), "gr\xC3\xBC\xC3\x9F");
  EXPECT_EQ(environment_variable("TALLOW_ENV_RAW"), std::nullopt);
  EXPECT_EQ(environment_path("TALLOW_ENV_RAW"), std::filesystem::path("/tmp/\xFF\xFE"));
  EXPECT_EQ(environment_variable("TALLOW_ENV_UNSET_FOR_SURE"), std::nullopt);
  EXPECT_EQ(environment_path("TALLOW_ENV_UNSET_FOR_SURE"), std::nullopt);
  EXPECT_EQ(environment_variable(std::string("TALLOW_ENV_TEXT\0X", 17)), std::nullopt);
}

TEST(PosixPaths, TextConversionKeepsBytesOneWayAndSanitizesTheOther) {
  EXPECT_EQ(path_text("/tmp/gr\xC3\xBC\xC3\x9F"), "/tmp/gr\xC3\xBC\xC3\x9F");
  EXPECT_EQ(path_text(std::filesystem::path("/tmp/\xFF")), "/tmp/\xEF\xBF\xBD");
  EXPECT_EQ(path_from_text("/a/b c").native(), "/a/b c");
  EXPECT_EQ(executable_suffix(), "");
}

TEST(PosixProcessSelf, ExecutableAndProcessId) {
  const auto self = executable_path();
  ASSERT_TRUE(self);
  EXPECT_TRUE(self->is_absolute());
  EXPECT_EQ(*self, std::filesystem::read_symlink("/proc/self/exe"));
  EXPECT_EQ(current_process_id(), static_cast<std::uint32_t>(::getpid()));
}

}  // namespace
}  // namespace tallow::platform
