// Linux: the stop request (SIGTERM to the agent's process group) really reaches the
// agent, so an agent that honours it ends by itself, long before the grace period; and
// an agent killed by a signal is reported by that signal's number and name.

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "support/agent_fixture.h"
#include "support/process_support.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;
using Kind = AgentStatus::Kind;
using Clock = std::chrono::steady_clock;

class SupervisorPosixStopTest : public AgentFixture {};

TEST_F(SupervisorPosixStopTest, AnAgentThatHonoursTheStopEndsByItselfBeforeTheGracePeriod) {
  write_config();
  auto timings = short_timings();
  timings.stop_grace = 30s;
  Supervisor& s = create_supervisor(timings);
  const std::uint32_t pid = start_until_running();
  ASSERT_NE(pid, 0u);

  const auto begun = Clock::now();
  s.stop();
  ASSERT_TRUE(wait_for_no_child(20s)) << status_label(status());
  EXPECT_LT(Clock::now() - begun, 10s);
  EXPECT_EQ(status(), AgentStatus::stopped());
  EXPECT_NE(log_text().find("tallowmered " + std::to_string(pid) + ": stop requested, ending"),
            std::string::npos)
      << log_text();
}

TEST_F(SupervisorPosixStopTest, AnAgentThatIgnoresTheStopStaysStoppingForTheWholeGracePeriod) {
  write_config();
  write_env({{"TALLOWMERED_IGNORE_STOP", "1"}});
  auto timings = short_timings();
  timings.stop_grace = 1500ms;
  Supervisor& s = create_supervisor(timings);
  const std::uint32_t pid = start_until_running();
  ASSERT_NE(pid, 0u);

  const auto begun = Clock::now();
  s.stop();
  EXPECT_EQ(kind(), Kind::stopping);
  ASSERT_TRUE(wait_for_no_child(20s)) << status_label(status());
  const auto took = Clock::now() - begun;
  EXPECT_GE(took, timings.stop_grace);
  EXPECT_LT(took, timings.stop_grace + 10s);
  EXPECT_EQ(status(), AgentStatus::stopped());
  EXPECT_FALSE(test::is_process_running(pid));
  EXPECT_EQ(kinds_seen(),
            (std::vector<Kind>{Kind::starting, Kind::running, Kind::stopping, Kind::stopped}))
      << kind_names(kinds_seen());
}

TEST_F(SupervisorPosixStopTest, StopAndWaitLeavesAnAgentThatIgnoresTheStopToItsGracePeriod) {
  write_config();
  write_env({{"TALLOWMERED_IGNORE_STOP", "1"}});
  auto timings = short_timings();
  timings.stop_grace = 60s;
  timings.logoff_wait = 1s;
  Supervisor& s = create_supervisor(timings);
  ASSERT_NE(start_until_running(), 0u);

  const auto begun = Clock::now();
  s.stop_and_wait();
  const auto took = Clock::now() - begun;
  EXPECT_GE(took, timings.logoff_wait);
  EXPECT_LT(took, timings.logoff_wait + 3s);
  EXPECT_TRUE(has_child());
  EXPECT_EQ(kind(), Kind::stopping);
  raise_kill_signal();
  EXPECT_TRUE(wait_for_no_child());
  EXPECT_EQ(status(), AgentStatus::stopped());
}

struct SignalCase {
  const char* name;
  const char* signal;
  const char* reason;
};

// Test names carry the case; so do failure messages.
void PrintTo(const SignalCase& c, std::ostream* out) { *out << c.name; }

class SupervisorPosixSignalTest : public AgentFixture,
                                  public ::testing::WithParamInterface<SignalCase> {};

TEST_P(SupervisorPosixSignalTest, AnAgentKilledByASignalIsReportedByIt) {
  write_config();
  // In a sanitizer build the runtime would catch the agent's SIGSEGV and exit with a
  // code of its own instead.
  write_env({{"TALLOWMERED_EXIT_AFTER_MS", "300"},
             {"TALLOWMERED_SIGNAL", GetParam().signal},
             {"ASAN_OPTIONS", "handle_segv=0"},
             {"TSAN_OPTIONS", "handle_segv=0"}});
  Supervisor& s = create_supervisor();
  s.start();
  ASSERT_TRUE(wait_for_kind(Kind::failed)) << status_label(status()) << "\n" << log_text();
  EXPECT_EQ(status().reason(), GetParam().reason);
  EXPECT_EQ(status_label(status()), std::string("Stopped: ") + GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    , SupervisorPosixSignalTest,
    ::testing::Values(SignalCase{"segv", "11", "exited (signal: 11 (SIGSEGV)), see the log"},
                      SignalCase{"abrt", "6", "exited (signal: 6 (SIGABRT)), see the log"},
                      SignalCase{"kill", "9", "exited (signal: 9 (SIGKILL)), see the log"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SupervisorPosixStopTest, AnAgentKilledFromOutsideIsReportedByTheSignal) {
  write_config();
  create_supervisor();
  const std::uint32_t pid = start_until_running();
  ASSERT_NE(pid, 0u);
  test::kill_process(pid);
  ASSERT_TRUE(wait_for_kind(Kind::failed)) << status_label(status());
  EXPECT_EQ(status().reason().rfind("exited (signal: ", 0), 0u) << status().reason();
}

TEST_F(SupervisorPosixStopTest, TheLargestExitCodeIsReportedAsIs) {
  write_config();
  write_env({{"TALLOWMERED_EXIT_AFTER_MS", "300"}, {"TALLOWMERED_EXIT_CODE", "255"}});
  create_supervisor().start();
  EXPECT_TRUE(wait_for_status(AgentStatus::failed("exited (exit code: 255), see the log")))
      << status_label(status());
}

}  // namespace
}  // namespace tallow::test
