// Another agent on the same state directory (it holds tallowmered.lock) wins over the
// tray's own; and state files left behind by an agent that is gone count for nothing.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/agent_locations.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "agent_side/agent_side.h"
#include "platform/process.h"
#include "agent/state_files.h"
#include "support/agent_fixture.h"
#include "support/process_support.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;
using Kind = AgentStatus::Kind;

class SupervisorElsewhereTest : public AgentFixture {
 protected:
  // Holds the agent's lock the way a running agent does, through a file of its own.
  std::optional<agent_side::FileLock> hold_agent_lock() { return hold_lock(state_dir() / kLockFileName); }

  // A pid that is certainly not the tray's child: the test process itself.
  static std::uint32_t some_other_pid() { return platform::current_process_id(); }
};

TEST_F(SupervisorElsewhereTest, StartWhileTheLockIsHeldLaunchesNothingUntilItIsReleased) {
  write_config();
  write_status_file(some_other_pid(), true);
  auto lock = hold_agent_lock();
  ASSERT_TRUE(lock);
  Supervisor& s = create_supervisor();

  s.start();
  EXPECT_EQ(status(), AgentStatus::running_elsewhere());
  EXPECT_EQ(status_label(status()), "Running (started elsewhere)");
  EXPECT_FALSE(has_child());
  // An agent started elsewhere is never ours to stop.
  s.stop();
  EXPECT_EQ(status(), AgentStatus::running_elsewhere());

  // While that agent holds the lock, its own report is what the tray shows.
  EXPECT_TRUE(wait_until([&] { return s.hub_connected() == true; }));
  write_status_file(some_other_pid(), false);
  EXPECT_TRUE(wait_until([&] { return s.hub_connected() == false; }));
  write_status_file(some_other_pid(), std::nullopt);
  EXPECT_TRUE(wait_until([&] { return s.hub_connected() == std::nullopt; }));
  write_status_file(some_other_pid(), true);
  EXPECT_TRUE(wait_until([&] { return s.hub_connected() == true; }));
  EXPECT_EQ(status(), AgentStatus::running_elsewhere());

  lock.reset();
  EXPECT_TRUE(wait_for_status(AgentStatus::stopped())) << status_label(status());
  EXPECT_EQ(s.hub_connected(), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(state_dir() / kAgentLogFileName));
  EXPECT_FALSE(std::filesystem::exists(state_dir() / "launch.json"));
  EXPECT_EQ(kinds_seen(), (std::vector<Kind>{Kind::running_elsewhere, Kind::stopped}))
      << kind_names(kinds_seen());

  // Released: the tray's own agent may start now.
  EXPECT_NE(start_until_running(), 0u);
}

TEST_F(SupervisorElsewhereTest, StartWhileTheLockIsHeldWinsOverNotBeingEnrolled) {
  auto lock = hold_agent_lock();
  ASSERT_TRUE(lock);
  Supervisor& s = create_supervisor();
  s.start();
  EXPECT_EQ(status(), AgentStatus::running_elsewhere());
  EXPECT_FALSE(has_child());
}

struct RefreshCase {
  const char* name;
  bool enrolled;
  bool agent_missing;  // so that a start fails before the lock is taken
  AgentStatus::Kind before;
  AgentStatus::Kind after_release;
};

// Test names carry the case; so do failure messages.
void PrintTo(const RefreshCase& c, std::ostream* out) { *out << c.name; }

class SupervisorElsewhereRefreshTest : public SupervisorElsewhereTest,
                                       public ::testing::WithParamInterface<RefreshCase> {};

TEST_P(SupervisorElsewhereRefreshTest, TheLockTakenLaterIsNoticedAndItsReleaseToo) {
  const RefreshCase& c = GetParam();
  if (c.enrolled) write_config();
  SupervisorOptions options;
  options.state_directory = state_dir();
  options.agent_path = c.agent_missing ? scratch() / "missing-agent" : agent_program();
  options.timings = short_timings();
  Supervisor& s = create_supervisor(std::move(options));
  if (c.before != Kind::stopped) s.start();
  ASSERT_TRUE(wait_for_kind(c.before)) << status_label(status());
  const AgentStatus before = status();

  write_status_file(some_other_pid(), false);
  auto lock = hold_agent_lock();
  ASSERT_TRUE(lock);
  EXPECT_TRUE(wait_for_status(AgentStatus::running_elsewhere())) << status_label(status());
  EXPECT_TRUE(wait_until([&] { return s.hub_connected() == false; }));

  lock.reset();
  ASSERT_TRUE(wait_for_kind(c.after_release)) << status_label(status());
  EXPECT_EQ(s.hub_connected(), std::nullopt);
  EXPECT_FALSE(has_child());
  // A failure is not remembered once another agent has been seen.
  if (before.kind() == Kind::failed) {
    EXPECT_EQ(status(), AgentStatus::stopped());
  }
}

INSTANTIATE_TEST_SUITE_P(
    , SupervisorElsewhereRefreshTest,
    ::testing::Values(RefreshCase{"stopped", true, false, Kind::stopped, Kind::stopped},
                      RefreshCase{"not_enrolled", false, false, Kind::not_enrolled, Kind::stopped},
                      RefreshCase{"failed", true, true, Kind::failed, Kind::stopped}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SupervisorElsewhereTest, AFailureReasonStaysWhileTheLockIsFree) {
  write_config();
  SupervisorOptions options;
  options.state_directory = state_dir();
  options.agent_path = scratch() / "missing-agent";
  options.timings = short_timings();
  Supervisor& s = create_supervisor(std::move(options));
  s.start();
  ASSERT_TRUE(wait_for_kind(Kind::failed)) << status_label(status());
  const AgentStatus failed = status();
  for (int step = 0; step < 5; ++step) s.refresh_status();
  EXPECT_EQ(status(), failed);
}

TEST_F(SupervisorElsewhereTest, AnAgentStartedOutsideTheTrayIsShownAndNeverStopped) {
  write_config();
  auto outside = tallow::agent_side::spawn_detached(agent_program(), {expected_argument()});
  ASSERT_TRUE(outside) << outside.error().message;
  const std::uint32_t pid = outside.value();
  track_process(pid);

  Supervisor& s = create_supervisor();
  ASSERT_TRUE(wait_for_status(AgentStatus::running_elsewhere())) << status_label(status());
  // Its status.json carries its own pid and says connected, the stand-in's default.
  EXPECT_TRUE(wait_until([&] { return s.hub_connected() == true; }));
  EXPECT_EQ(read_status_file(state_dir()).value_or(StatusFileRecord{}).pid, pid);

  s.start();
  EXPECT_EQ(status(), AgentStatus::running_elsewhere());
  EXPECT_FALSE(has_child());
  s.stop();
  s.restart();
  EXPECT_EQ(status(), AgentStatus::running_elsewhere());
  EXPECT_TRUE(test::is_process_running(pid));

  test::kill_process(pid);
  EXPECT_TRUE(wait_for_status(AgentStatus::stopped())) << status_label(status());
  EXPECT_EQ(s.hub_connected(), std::nullopt);
  EXPECT_FALSE(has_child());
}

TEST_F(SupervisorElsewhereTest, AStaleStatusFileWithAnotherPidKeepsTheChildStarting) {
  write_config();
  write_status_file(some_other_pid(), true);
  write_env({{"TALLOWMERED_CONFIRM", "never"}});
  Supervisor& s = create_supervisor();
  s.start();
  ASSERT_TRUE(wait_until([&] { return has_child(); })) << status_label(status());
  const std::uint32_t pid = child_pid();

  for (int step = 0; step < 5; ++step) s.refresh_status();
  EXPECT_EQ(kind(), Kind::starting);
  EXPECT_EQ(s.hub_connected(), std::nullopt);
  EXPECT_TRUE(test::is_process_running(pid));

  // There is no time limit on Starting; the agent's own word is what ends it.
  write_status_file(pid, false);
  s.refresh_status();
  EXPECT_EQ(kind(), Kind::running);
  EXPECT_EQ(s.hub_connected(), false);
}

TEST_F(SupervisorElsewhereTest, ALateConfirmationTurnsStartingIntoRunning) {
  write_config();
  write_env({{"TALLOWMERED_CONFIRM", "late"}, {"TALLOWMERED_CONFIRM_AFTER_MS", "700"}});
  Supervisor& s = create_supervisor();
  s.start();
  ASSERT_TRUE(wait_until([&] { return has_child(); })) << status_label(status());
  EXPECT_EQ(kind(), Kind::starting);
  EXPECT_EQ(s.hub_connected(), std::nullopt);
  ASSERT_TRUE(wait_for_kind(Kind::running)) << status_label(status());
  EXPECT_EQ(s.hub_connected(), true);
}

TEST_F(SupervisorElsewhereTest, AStaleConnectedStatusFileWithoutAnAgentShowsNothing) {
  write_config();
  write_status_file(some_other_pid(), true);
  // The lock file of an agent that has ended stays behind, unlocked.
  write_file(state_dir() / kLockFileName, "");
  Supervisor& s = create_supervisor();
  for (int step = 0; step < 3; ++step) s.refresh_status();
  EXPECT_EQ(status(), AgentStatus::stopped());
  EXPECT_EQ(s.hub_connected(), std::nullopt);
  EXPECT_FALSE(has_child());
}

}  // namespace
}  // namespace tallow::test
