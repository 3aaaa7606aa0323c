// The supervisor's life cycle with the stand-in agent as a real child: start until the
// agent confirms itself, stop, restart, repeated stops, and a stop that comes while the
// launch is still under way.

#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/agent_launch.h"
#include "agent/agent_locations.h"
#include "platform/process.h"
#include "agent/state_files.h"
#include "support/agent_fixture.h"
#include "support/process_support.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;
using Kind = AgentStatus::Kind;

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

class SupervisorLifecycleTest : public AgentFixture {};

TEST_F(SupervisorLifecycleTest, StartIsConfirmedByTheChildsOwnPidAndStopEndsStopped) {
  write_config();
  write_env({{"TALLOWMERED_OUTPUT", "the agent speaks"}});
  Supervisor& s = create_supervisor();
  EXPECT_EQ(kind(), Kind::stopped);

  s.start();
  // Decided and recorded before start returns; the agent has not confirmed anything yet.
  EXPECT_EQ(kind(), Kind::starting);
  EXPECT_EQ(s.hub_connected(), std::nullopt);

  ASSERT_TRUE(wait_for_kind(Kind::running)) << status_label(status()) << "\n" << log_text();
  const std::uint32_t pid = child_pid();
  ASSERT_NE(pid, 0u);
  EXPECT_TRUE(has_child());
  const auto record = read_status_file(state_dir());
  ASSERT_TRUE(record);
  EXPECT_EQ(record->pid, pid);
  EXPECT_EQ(launch_record().value("pid", 0u), pid);
  EXPECT_TRUE(test::is_process_running(pid));
  EXPECT_EQ(s.hub_url(), std::string(kTestHubUrl));

  s.stop();
  const Kind after_stop = kind();
  EXPECT_TRUE(after_stop == Kind::stopping || after_stop == Kind::stopped) << status_label(status());
  ASSERT_TRUE(wait_for_no_child());
  EXPECT_EQ(status(), AgentStatus::stopped());
  EXPECT_TRUE(wait_until([pid] { return !test::is_process_running(pid); }, 5s));
  EXPECT_EQ(kinds_seen(),
            (std::vector<Kind>{Kind::starting, Kind::running, Kind::stopping, Kind::stopped}))
      << kind_names(kinds_seen());

  // Standard output and standard error both end up in the log.
  const std::string log = log_text();
  EXPECT_NE(log.find("tallowmered " + std::to_string(pid) + ": started"), std::string::npos) << log;
  EXPECT_EQ(count_of(log, "the agent speaks"), 2u) << log;
}

struct ConnectedCase {
  const char* name;
  const char* switch_value;
  std::optional<bool> expected;
};

// Test names carry the case; so do failure messages.
void PrintTo(const ConnectedCase& c, std::ostream* out) { *out << c.name; }

class SupervisorHubConnectedTest : public AgentFixture,
                                   public ::testing::WithParamInterface<ConnectedCase> {};

TEST_P(SupervisorHubConnectedTest, FollowsWhatTheAgentsStatusFileSays) {
  write_config();
  write_env({{"TALLOWMERED_CONNECTED", GetParam().switch_value}});
  create_supervisor();
  const std::uint32_t pid = start_until_running();
  ASSERT_NE(pid, 0u);
  EXPECT_EQ(supervisor().hub_connected(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    , SupervisorHubConnectedTest,
    ::testing::Values(ConnectedCase{"connected", "true", true},
                      ConnectedCase{"connecting", "false", false},
                      ConnectedCase{"unreported", "absent", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SupervisorLifecycleTest, HubConnectedTracksLaterRewritesAndDeletionOfTheStatusFile) {
  write_config();
  Supervisor& s = create_supervisor();
  const std::uint32_t pid = start_until_running();
  ASSERT_NE(pid, 0u);
  EXPECT_EQ(s.hub_connected(), true);

  write_status_file(pid, false);
  EXPECT_TRUE(wait_until([&] { return s.hub_connected() == false; }));

  // A report by some other process does not count, even with the child running.
  write_status_file(pid + 1, true);
  EXPECT_TRUE(wait_until([&] { return s.hub_connected() == std::nullopt; }));
  EXPECT_EQ(kind(), Kind::running);

  write_status_file(pid, true);
  EXPECT_TRUE(wait_until([&] { return s.hub_connected() == true; }));

  std::filesystem::remove(state_dir() / kStatusFileName);
  EXPECT_TRUE(wait_until([&] { return s.hub_connected() == std::nullopt; }));
  EXPECT_EQ(kind(), Kind::running);
  EXPECT_EQ(child_pid(), pid);
}

TEST_F(SupervisorLifecycleTest, LosingTheHubUrlClearsItButLeavesTheAgentRunning) {
  write_config();
  Supervisor& s = create_supervisor();
  const std::uint32_t pid = start_until_running();
  ASSERT_NE(pid, 0u);
  ASSERT_EQ(s.hub_url(), std::string(kTestHubUrl));

  std::filesystem::remove(state_dir() / kConfigFileName);
  EXPECT_TRUE(wait_until([&] { return s.hub_url() == std::nullopt; }));
  EXPECT_EQ(kind(), Kind::running);
  EXPECT_EQ(child_pid(), pid);
  EXPECT_TRUE(test::is_process_running(pid));
}

TEST_F(SupervisorLifecycleTest, StartWhileStartingOrRunningLaunchesNothingMore) {
  write_config();
  Supervisor& s = create_supervisor();
  s.start();
  s.start();
  const std::uint32_t pid = [&] {
    EXPECT_TRUE(wait_for_kind(Kind::running)) << status_label(status());
    return child_pid();
  }();
  ASSERT_NE(pid, 0u);
  s.start();
  EXPECT_EQ(kind(), Kind::running);
  EXPECT_EQ(child_pid(), pid);
  EXPECT_EQ(count_of(log_text(), ": started"), 1u) << log_text();
}

TEST_F(SupervisorLifecycleTest, StopWithoutAChildChangesNothing) {
  write_config();
  Supervisor& s = create_supervisor();
  s.stop();
  EXPECT_EQ(status(), AgentStatus::stopped());
  EXPECT_FALSE(has_child());
  EXPECT_FALSE(std::filesystem::exists(state_dir() / kAgentLogFileName));
}

TEST_F(SupervisorLifecycleTest, RestartWithAChildLaunchesANewAgentOnlyAfterTheOldOneEnded) {
  write_config();
  Supervisor& s = create_supervisor();
  const std::uint32_t first = start_until_running();
  ASSERT_NE(first, 0u);

  s.restart();
  // The replacement is launched from the old child's exit: by the time it exists, the
  // old agent must be gone.
  std::uint32_t second = 0;
  ASSERT_TRUE(wait_until([&] {
    second = child_pid();
    return second != 0 && second != first;
  })) << status_label(status());
  EXPECT_FALSE(test::is_process_running(first));
  ASSERT_TRUE(wait_for_kind(Kind::running)) << status_label(status());
  EXPECT_EQ(child_pid(), second);
  EXPECT_EQ(launch_record().value("pid", 0u), second);
  EXPECT_EQ(count_of(log_text(), ": started"), 2u) << log_text();
  EXPECT_EQ(kinds_seen(), (std::vector<Kind>{Kind::starting, Kind::running, Kind::stopping,
                                             Kind::stopped, Kind::starting, Kind::running}))
      << kind_names(kinds_seen());
}

TEST_F(SupervisorLifecycleTest, RestartOfAnAgentThatIgnoresTheStopWaitsForItsForcedEnd) {
  write_config();
  write_env({{"TALLOWMERED_IGNORE_STOP", "1"}});
  auto timings = short_timings();
  timings.stop_grace = 1s;
  Supervisor& s = create_supervisor(timings);
  const std::uint32_t first = start_until_running();
  ASSERT_NE(first, 0u);

  s.restart();
  std::uint32_t second = 0;
  ASSERT_TRUE(wait_until([&] {
    second = child_pid();
    return second != 0 && second != first;
  })) << status_label(status());
  EXPECT_FALSE(test::is_process_running(first));
  EXPECT_TRUE(wait_for_kind(Kind::running)) << status_label(status());
  EXPECT_EQ(kinds_seen(), (std::vector<Kind>{Kind::starting, Kind::running, Kind::stopping,
                                             Kind::stopped, Kind::starting, Kind::running}))
      << kind_names(kinds_seen());
}

TEST_F(SupervisorLifecycleTest, RestartWithoutAChildIsAPlainStart) {
  write_config();
  Supervisor& s = create_supervisor();
  s.restart();
  EXPECT_EQ(kind(), Kind::starting);
  ASSERT_TRUE(wait_for_kind(Kind::running)) << status_label(status());
  EXPECT_NE(child_pid(), 0u);
  EXPECT_EQ(count_of(log_text(), ": started"), 1u) << log_text();
}

struct TwoStopsCase {
  const char* name;
  bool ignores_stop;
};

// Test names carry the case; so do failure messages.
void PrintTo(const TwoStopsCase& c, std::ostream* out) { *out << c.name; }

class SupervisorTwoStopsTest : public AgentFixture,
                               public ::testing::WithParamInterface<TwoStopsCase> {};

TEST_P(SupervisorTwoStopsTest, EndTheAgentOnceAndTheirTimersSpareTheNextChild) {
  write_config();
  write_env({{"TALLOWMERED_IGNORE_STOP", GetParam().ignores_stop ? "1" : "0"}});
  auto timings = short_timings();
  timings.stop_grace = 1s;
  Supervisor& s = create_supervisor(timings);
  const std::uint32_t first = start_until_running();
  ASSERT_NE(first, 0u);

  s.stop();
  s.stop();
  ASSERT_TRUE(wait_for_no_child());
  EXPECT_EQ(status(), AgentStatus::stopped());
  EXPECT_FALSE(test::is_process_running(first));
  EXPECT_EQ(kinds_seen(),
            (std::vector<Kind>{Kind::starting, Kind::running, Kind::stopping, Kind::stopped}))
      << kind_names(kinds_seen());
  clear_transitions();

  // A new agent at once; the two timers of the old one must not touch it when they fire.
  write_env({});
  const std::uint32_t second = start_until_running();
  ASSERT_NE(second, 0u);
  ASSERT_NE(second, first);
  // Refresh loop and exit watch: every stop timer has run out.
  ASSERT_TRUE(wait_until([&] { return live_tasks() == 2; }, 30s)) << live_tasks() << " tasks";
  EXPECT_EQ(kind(), Kind::running);
  EXPECT_EQ(child_pid(), second);
  EXPECT_TRUE(test::is_process_running(second));
  EXPECT_EQ(kinds_seen(), (std::vector<Kind>{Kind::starting, Kind::running}))
      << kind_names(kinds_seen());
}

INSTANTIATE_TEST_SUITE_P(, SupervisorTwoStopsTest,
                         ::testing::Values(TwoStopsCase{"honours_stop", false},
                                           TwoStopsCase{"ignores_stop", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Holds launches back until the test lets them through; lets them through at the
// latest when destroyed, so a failed test cannot leave a launch task blocked.
class LaunchGate {
 public:
  ~LaunchGate() { open(); }

  AgentLauncher launcher() {
    return [shared = shared_](const std::filesystem::path& state_directory,
                              const std::filesystem::path& agent_path) {
      {
        std::unique_lock lock(shared->mutex);
        shared->entered = true;
        shared->changed.notify_all();
        shared->changed.wait(lock, [&] { return shared->open; });
      }
      return launch_agent(state_directory, agent_path);
    };
  }

  bool entered() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->entered;
  }

  void open() {
    std::lock_guard lock(shared_->mutex);
    shared_->open = true;
    shared_->changed.notify_all();
  }

 private:
  struct Shared {
    mutable std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

TEST_F(SupervisorLifecycleTest, StopWhileTheLaunchIsUnderWayDoesNothingAndTheAgentRuns) {
  write_config();
  LaunchGate gate;
  SupervisorOptions options;
  options.state_directory = state_dir();
  options.agent_path = agent_program();
  options.timings = short_timings();
  options.launcher = gate.launcher();
  Supervisor& s = create_supervisor(std::move(options));

  s.start();
  ASSERT_TRUE(wait_until([&] { return gate.entered(); }));
  s.stop();
  EXPECT_EQ(kind(), Kind::starting);
  EXPECT_FALSE(has_child());

  gate.open();
  ASSERT_TRUE(wait_for_kind(Kind::running)) << status_label(status()) << "\n" << log_text();
  EXPECT_TRUE(has_child());
  // No stop was left over for the new child.
  ASSERT_TRUE(wait_until([&] { return live_tasks() == 2; }));
  EXPECT_EQ(kind(), Kind::running);
  EXPECT_EQ(log_text().find("stop requested"), std::string::npos) << log_text();
  EXPECT_EQ(kinds_seen(), (std::vector<Kind>{Kind::starting, Kind::running}))
      << kind_names(kinds_seen());
}

TEST_F(SupervisorLifecycleTest, AForcedEndWithoutAStopIsAFailureWithExitCodeOne) {
  write_config();
  create_supervisor();
  const std::uint32_t pid = start_until_running();
  ASSERT_NE(pid, 0u);
  raise_kill_signal();
  EXPECT_TRUE(wait_for_status(AgentStatus::failed("exited (exit code: 1), see the log")))
      << status_label(status());
  EXPECT_FALSE(has_child());
  EXPECT_FALSE(test::is_process_running(pid));
}

}  // namespace
}  // namespace tallow::test
