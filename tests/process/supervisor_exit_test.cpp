// An agent that ends without being asked to: the status names exactly how it ended,
// and stays so until the user acts.

#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "support/agent_fixture.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;
using Kind = AgentStatus::Kind;

struct ExitCase {
  const char* name;
  const char* exit_code;  // as the agent's switch takes it
  const char* reason;
};

// Test names carry the case; so do failure messages.
void PrintTo(const ExitCase& c, std::ostream* out) { *out << c.name; }

class SupervisorExitCodeTest : public AgentFixture, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(SupervisorExitCodeTest, GivesTheExactReason) {
  write_config();
  write_env({{"TALLOWMERED_EXIT_AFTER_MS", "300"}, {"TALLOWMERED_EXIT_CODE", GetParam().exit_code}});
  Supervisor& s = create_supervisor();
  s.start();
  ASSERT_TRUE(wait_for_kind(Kind::failed)) << status_label(status()) << "\n" << log_text();
  EXPECT_EQ(status().reason(), GetParam().reason);
  EXPECT_EQ(status_label(status()), std::string("Stopped: ") + GetParam().reason);
  EXPECT_FALSE(has_child());
  EXPECT_NE(log_text().find("ending by itself"), std::string::npos) << log_text();
}

INSTANTIATE_TEST_SUITE_P(
    , SupervisorExitCodeTest,
    ::testing::Values(ExitCase{"zero_is_no_clean_stop", "0", "exited (exit code: 0), see the log"},
                      ExitCase{"one", "1", "exited (exit code: 1), see the log"},
                      ExitCase{"forty_two", "42", "exited (exit code: 42), see the log"}),
    [](const auto& info) { return std::string(info.param.name); });

class SupervisorExitTest : public AgentFixture {};

TEST_F(SupervisorExitTest, AFailureSurvivesRefreshesAndTheNextStartReplacesIt) {
  write_config();
  write_env({{"TALLOWMERED_EXIT_AFTER_MS", "200"}, {"TALLOWMERED_EXIT_CODE", "7"}});
  Supervisor& s = create_supervisor();
  const AgentStatus failed = AgentStatus::failed("exited (exit code: 7), see the log");
  s.start();
  ASSERT_TRUE(wait_for_status(failed)) << status_label(status()) << "\n" << log_text();

  // The agent is never restarted on its own: refreshes leave the reason as it is.
  for (int step = 0; step < 5; ++step) s.refresh_status();
  EXPECT_EQ(status(), failed);
  EXPECT_FALSE(has_child());

  write_env({});
  s.start();
  EXPECT_EQ(kind(), Kind::starting);
  ASSERT_TRUE(wait_for_kind(Kind::running)) << status_label(status()) << "\n" << log_text();
}

TEST_F(SupervisorExitTest, AnAgentThatEndsBeforeConfirmingFailsAsWell) {
  write_config();
  write_env({{"TALLOWMERED_CONFIRM", "never"}, {"TALLOWMERED_EXIT_AFTER_MS", "100"},
             {"TALLOWMERED_EXIT_CODE", "3"}});
  Supervisor& s = create_supervisor();
  s.start();
  ASSERT_TRUE(wait_for_kind(Kind::failed)) << status_label(status());
  EXPECT_EQ(status().reason(), "exited (exit code: 3), see the log");
  EXPECT_EQ(s.hub_connected(), std::nullopt);
}

}  // namespace
}  // namespace tallow::test
