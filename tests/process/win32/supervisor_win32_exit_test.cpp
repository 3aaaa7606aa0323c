// Windows: exit codes are 32 bits wide; those with bit 31 set are NTSTATUS values
// (an access violation, a Ctrl+C exit) and read in hexadecimal, as the system writes them.

#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "support/agent_fixture.h"

namespace tallow::test {
namespace {

using Kind = AgentStatus::Kind;

struct Win32ExitCase {
  const char* name;
  const char* exit_code;
  const char* reason;
};

// Test names carry the case; so do failure messages.
void PrintTo(const Win32ExitCase& c, std::ostream* out) { *out << c.name; }

class SupervisorWin32ExitTest : public AgentFixture,
                                public ::testing::WithParamInterface<Win32ExitCase> {};

TEST_P(SupervisorWin32ExitTest, GivesTheExactReason) {
  write_config();
  write_env({{"TALLOWMERED_EXIT_AFTER_MS", "300"}, {"TALLOWMERED_EXIT_CODE", GetParam().exit_code}});
  create_supervisor().start();
  ASSERT_TRUE(wait_for_kind(Kind::failed)) << status_label(status()) << "\n" << log_text();
  EXPECT_EQ(status().reason(), GetParam().reason);
  EXPECT_EQ(status_label(status()), std::string("Stopped: ") + GetParam().reason);
  EXPECT_FALSE(has_child());
}

INSTANTIATE_TEST_SUITE_P(
    , SupervisorWin32ExitTest,
    ::testing::Values(
        Win32ExitCase{"access_violation", "0xC0000005", "exited (exit code: 0xc0000005), see the log"},
        Win32ExitCase{"control_c_exit", "0xC000013A", "exited (exit code: 0xc000013a), see the log"},
        Win32ExitCase{"bit_31_alone", "0x80000000", "exited (exit code: 0x80000000), see the log"},
        Win32ExitCase{"still_active_value", "259", "exited (exit code: 259), see the log"},
        Win32ExitCase{"largest_decimal", "0x7FFFFFFF", "exited (exit code: 2147483647), see the log"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tallow::test
