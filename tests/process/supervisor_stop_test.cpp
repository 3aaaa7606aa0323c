// Stopping the agent: an agent that ignores the request is still ended, the log-off
// wait is bounded, and whatever the agent started itself ends with it.

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

class SupervisorStopTest : public AgentFixture {};

TEST_F(SupervisorStopTest, AnAgentThatIgnoresTheStopIsEndedAndTheStatusEndsStopped) {
  write_config();
  write_env({{"TALLOWMERED_IGNORE_STOP", "1"}});
  auto timings = short_timings();
  timings.stop_grace = 1500ms;
  Supervisor& s = create_supervisor(timings);
  const std::uint32_t pid = start_until_running();
  ASSERT_NE(pid, 0u);

  s.stop();
  // Where the stop request cannot be delivered the agent is ended at once, elsewhere
  // after the grace period; either way it ends, and not as a failure.
  ASSERT_TRUE(wait_for_no_child(std::chrono::duration_cast<std::chrono::milliseconds>(timings.stop_grace) + 20s)) << status_label(status());
  EXPECT_EQ(status(), AgentStatus::stopped());
  EXPECT_FALSE(test::is_process_running(pid));
  EXPECT_EQ(log_text().find("stop requested"), std::string::npos) << log_text();
  EXPECT_EQ(kinds_seen(),
            (std::vector<Kind>{Kind::starting, Kind::running, Kind::stopping, Kind::stopped}))
      << kind_names(kinds_seen());
}

TEST_F(SupervisorStopTest, StopAndWaitReturnsOnceTheChildIsGone) {
  write_config();
  auto timings = short_timings();
  timings.logoff_wait = 15s;
  Supervisor& s = create_supervisor(timings);
  const std::uint32_t pid = start_until_running();
  ASSERT_NE(pid, 0u);

  const auto begun = Clock::now();
  s.stop_and_wait();
  const auto took = Clock::now() - begun;
  EXPECT_FALSE(has_child());
  EXPECT_EQ(status(), AgentStatus::stopped());
  // It returned because the child was gone, not because the wait ran out.
  EXPECT_LT(took, 10s);
}

TEST_F(SupervisorStopTest, StopAndWaitGivesUpAfterTheLogOffWaitWhenTheGraceIsLonger) {
  write_config();
  write_env({{"TALLOWMERED_IGNORE_STOP", "1"}});
  auto timings = short_timings();
  timings.stop_grace = 60s;
  timings.logoff_wait = 1s;
  Supervisor& s = create_supervisor(timings);
  const std::uint32_t pid = start_until_running();
  ASSERT_NE(pid, 0u);

  const auto begun = Clock::now();
  s.stop_and_wait();
  const auto took = Clock::now() - begun;
  EXPECT_LT(took, timings.logoff_wait + 3s);
  if (has_child()) {
    // Still waiting for its grace period: the wait must have used all of its time.
    EXPECT_GE(took, timings.logoff_wait);
    EXPECT_EQ(kind(), Kind::stopping);
  } else {
    EXPECT_EQ(status(), AgentStatus::stopped());
  }
  // What the stop timer would do a minute later.
  raise_kill_signal();
  EXPECT_TRUE(wait_for_no_child());
  EXPECT_EQ(status(), AgentStatus::stopped());
}

enum class Ending { stop, forced, killed_from_outside };

struct GrandchildCase {
  const char* name;
  Ending ending;
};

// Test names carry the case; so do failure messages.
void PrintTo(const GrandchildCase& c, std::ostream* out) { *out << c.name; }

class SupervisorGrandchildTest : public AgentFixture,
                                 public ::testing::WithParamInterface<GrandchildCase> {};

TEST_P(SupervisorGrandchildTest, EndsWithinTwoSecondsOfTheAgent) {
  write_config();
  write_env({{"TALLOWMERED_GRANDCHILD", "1"}});
  Supervisor& s = create_supervisor();
  const std::uint32_t pid = start_until_running();
  ASSERT_NE(pid, 0u);
  std::uint32_t grandchild = 0;
  ASSERT_TRUE(wait_until([&] {
    grandchild = grandchild_pid().value_or(0);
    return grandchild != 0;
  })) << log_text();
  track_process(grandchild);
  ASSERT_TRUE(test::is_process_running(grandchild));

  switch (GetParam().ending) {
    case Ending::stop: s.stop(); break;
    case Ending::forced: raise_kill_signal(); break;
    case Ending::killed_from_outside: test::kill_process(pid); break;
  }
  ASSERT_TRUE(wait_for_no_child()) << status_label(status());
  EXPECT_FALSE(test::is_process_running(pid));
  EXPECT_TRUE(wait_until([&] { return !test::is_process_running(grandchild); }, 2s))
      << "grandchild " << grandchild << " outlived the agent " << pid;
  if (GetParam().ending == Ending::stop) {
    EXPECT_EQ(status(), AgentStatus::stopped());
  } else {
    EXPECT_EQ(kind(), Kind::failed) << status_label(status());
  }
}

INSTANTIATE_TEST_SUITE_P(
    , SupervisorGrandchildTest,
    ::testing::Values(GrandchildCase{"stopped", Ending::stop},
                      GrandchildCase{"forced", Ending::forced},
                      GrandchildCase{"killed_from_outside", Ending::killed_from_outside}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tallow::test
