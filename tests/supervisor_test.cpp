// Supervisor decisions driven with in-process fake agent children.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <thread>

#include "agent_side/agent_side.h"
#include "platform/file.h"
#include "platform/state_directory_watch.h"
#include "agent/state_files.h"
#include "support/supervisor_fixture.h"
#include "support/tasks_access.h"

namespace tallow {
namespace {

using namespace std::chrono_literals;
using Kind = AgentStatus::Kind;
using test::SupervisorTest;

TEST_F(SupervisorTest, StartsWhenEnrolledAndRunsOnceTheChildConfirms) {
  enroll();
  auto& supervisor = make_supervisor();
  EXPECT_EQ(supervisor.hub_url(), "https://hub.example:8443/ui");
  supervisor.start();
  EXPECT_EQ(supervisor.status(), AgentStatus::starting());
  ASSERT_TRUE(test::wait_until([&] { return supervisor.has_child(); }));
  supervisor.refresh_status();
  EXPECT_EQ(supervisor.status(), AgentStatus::running());
  EXPECT_EQ(supervisor.hub_connected(), true);
  EXPECT_EQ(agents_.launches(), 1);
}

TEST_F(SupervisorTest, RefusesToStartWithoutHubOrListenSetting) {
  auto& supervisor = make_supervisor();
  supervisor.start();
  EXPECT_EQ(supervisor.status(), AgentStatus::not_enrolled());
  EXPECT_EQ(agents_.launches(), 0);
}

TEST_F(SupervisorTest, ListenSettingInEnvFileAllowsStartWithoutHub) {
  test::write_file(dir_ / "env", "TALLOWMERE_LISTEN=127.0.0.1:7420\n");
  auto& supervisor = make_supervisor();
  supervisor.start();
  EXPECT_EQ(supervisor.status(), AgentStatus::starting());
  EXPECT_TRUE(test::wait_until([&] { return agents_.launches() == 1; }));
}

TEST_F(SupervisorTest, BlankListenSettingInEnvFileIsNotEnrolled) {
  test::write_file(dir_ / "env", "TALLOWMERE_LISTEN=1\nTALLOWMERE_LISTEN=  \n");
  auto& supervisor = make_supervisor();
  supervisor.start();
  EXPECT_EQ(supervisor.status(), AgentStatus::not_enrolled());
}

TEST_F(SupervisorTest, AnotherAgentHoldingTheLockWinsWhateverTheEnrollment) {
  for (const bool enrolled : {false, true}) {
    SCOPED_TRACE(enrolled);
    if (enrolled) enroll();
    const auto held = test::hold_lock(dir_ / "tallowmered.lock");
    ASSERT_TRUE(held);
    if (!supervisor_) make_supervisor();
    supervisor_->start();
    EXPECT_EQ(supervisor_->status(), AgentStatus::running_elsewhere());
    EXPECT_EQ(agents_.launches(), 0);
  }
}

TEST_F(SupervisorTest, StartWhileStartingOrRunningDoesNothing) {
  enroll();
  agents_.confirm = false;
  auto& supervisor = make_supervisor();
  supervisor.start();
  supervisor.start();
  ASSERT_TRUE(test::wait_until([&] { return supervisor.has_child(); }));
  supervisor.start();
  EXPECT_EQ(supervisor.status(), AgentStatus::starting());
  EXPECT_EQ(agents_.launches(), 1);
}

TEST_F(SupervisorTest, StopWithoutChildLeavesTheStatusAlone) {
  auto& supervisor = make_supervisor();
  supervisor.start();
  ASSERT_EQ(supervisor.status(), AgentStatus::not_enrolled());
  supervisor.stop();
  EXPECT_EQ(supervisor.status(), AgentStatus::not_enrolled());
}

TEST_F(SupervisorTest, GracefulStopEndsStopped) {
  enroll();
  auto& supervisor = make_supervisor();
  start_and_confirm();
  supervisor.stop();
  EXPECT_TRUE(wait_for_status(AgentStatus::stopped()));
  EXPECT_FALSE(supervisor.has_child());
  EXPECT_EQ(agents_.last_child()->stop_requests, 1);
  EXPECT_FALSE(agents_.last_child()->terminated);
}

TEST_F(SupervisorTest, UndeliverableStopTerminatesAtOnce) {
  enroll();
  agents_.deliver_stop = false;
  auto& supervisor = make_supervisor({1h, 1h, 300ms, 5ms});
  start_and_confirm();
  supervisor.stop();
  EXPECT_TRUE(wait_for_status(AgentStatus::stopped()));
  EXPECT_TRUE(agents_.last_child()->terminated);
}

TEST_F(SupervisorTest, IgnoredStopIsForcedAfterTheGracePeriod) {
  enroll();
  agents_.ignore_stop = true;
  auto& supervisor = make_supervisor();
  start_and_confirm();
  supervisor.stop();
  EXPECT_EQ(supervisor.status(), AgentStatus::stopping());
  EXPECT_TRUE(wait_for_status(AgentStatus::stopped()));
  EXPECT_TRUE(agents_.last_child()->terminated);
}

TEST_F(SupervisorTest, TwoStopsSendTwoRequestsAndEndTheChildOnce) {
  enroll();
  agents_.ignore_stop = true;
  auto& supervisor = make_supervisor();
  start_and_confirm();
  supervisor.stop();
  supervisor.stop();
  EXPECT_TRUE(wait_for_status(AgentStatus::stopped()));
  EXPECT_EQ(agents_.last_child()->stop_requests, 2);
  EXPECT_EQ(agents_.launches(), 1);
}

TEST_F(SupervisorTest, ChildEndingOnItsOwnFailsWithItsExitCode) {
  struct Case {
    std::uint32_t code;
    const char* reason;
  };
  const Case cases[] = {{0, "exited (exit code: 0), see the log"},
                        {1, "exited (exit code: 1), see the log"},
                        {0xC0000005, "exited (exit code: 0xc0000005), see the log"}};
  enroll();
  auto& supervisor = make_supervisor();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    start_and_confirm();
    agents_.last_child()->end(c.code);
    EXPECT_TRUE(wait_for_status(AgentStatus::failed(c.reason)));
    // The agent is never restarted on its own.
    EXPECT_FALSE(supervisor.has_child());
  }
  EXPECT_EQ(agents_.launches(), 3);
}

TEST_F(SupervisorTest, LaunchFailureIsShownAndStartTriesAgain) {
  enroll();
  agents_.fail_launch = true;
  auto& supervisor = make_supervisor();
  supervisor.start();
  EXPECT_TRUE(wait_for_status(AgentStatus::failed("fake launch failure")));
  agents_.fail_launch = false;
  supervisor.start();
  EXPECT_EQ(supervisor.status(), AgentStatus::starting());
  EXPECT_TRUE(test::wait_until([&] { return supervisor.has_child(); }));
}

TEST_F(SupervisorTest, RestartWithChildLaunchesAfterTheOldOneEnded) {
  enroll();
  auto& supervisor = make_supervisor();
  start_and_confirm();
  const auto first = agents_.last_child();
  supervisor.restart();
  ASSERT_TRUE(test::wait_until([&] { return agents_.launches() == 2 && supervisor.has_child(); }));
  EXPECT_TRUE(first->has_ended());
  EXPECT_EQ(agents_.overlapping_launches(), 0);
  EXPECT_EQ(supervisor.status(), AgentStatus::starting());
}

TEST_F(SupervisorTest, RestartWithoutChildIsStart) {
  auto& supervisor = make_supervisor();
  supervisor.restart();
  EXPECT_EQ(supervisor.status(), AgentStatus::not_enrolled());
  enroll();
  supervisor.refresh_status();  // learns the hub URL and starts
  EXPECT_TRUE(test::wait_until([&] { return agents_.launches() == 1; }));
}

TEST_F(SupervisorTest, StopTimerOfAnEarlierChildLeavesALaterOneAlone) {
  enroll();
  auto& supervisor = make_supervisor({1h, 100ms, 300ms, 5ms});
  start_and_confirm();
  supervisor.stop();  // ends gracefully at once, its timer keeps running
  ASSERT_TRUE(wait_for_status(AgentStatus::stopped()));
  start_and_confirm();
  const auto second = agents_.last_child();
  // The refresh loop and the second child's exit watch remain once the timer is done.
  ASSERT_TRUE(test::wait_until([&] { return TaskRuntimeAccess::live_tasks(*runtime_) == 2; }));
  EXPECT_FALSE(second->has_ended());
  EXPECT_EQ(supervisor.status(), AgentStatus::running());
}

TEST_F(SupervisorTest, AnEarlierChildsStopDeadlinePassesWithoutTouchingALaterChild) {
  enroll();
  auto& supervisor = make_supervisor({1h, 100ms, 300ms, 5ms});
  start_and_confirm();
  supervisor.stop();  // ends gracefully at once; its deadline stays in the queue
  ASSERT_TRUE(wait_for_status(AgentStatus::stopped()));
  start_and_confirm();
  // Due no earlier than that deadline, scheduled after it: once this ran, so had it.
  std::atomic<bool> passed{false};
  runtime_->timers().schedule_after(100ms, [&] { passed = true; });
  ASSERT_TRUE(test::wait_until([&] { return passed.load(); }));
  EXPECT_FALSE(agents_.last_child()->has_ended());
  EXPECT_EQ(supervisor.status(), AgentStatus::running());
}

TEST_F(SupervisorTest, StopDeadlinesWaitWithoutAThreadAndWithoutKeepingTheirKillSignals) {
  enroll();
  auto& supervisor = make_supervisor({1h, 1h, 300ms, 5ms});
  std::vector<std::weak_ptr<platform::WakeEvent>> kill_signals;
  constexpr int kStops = 50;
  for (int i = 0; i < kStops; ++i) {
    start_and_confirm();
    {
      std::lock_guard lock(supervisor.state()->mutex);
      kill_signals.push_back(supervisor.state()->kill_signal);
    }
    supervisor.stop();
    ASSERT_TRUE(wait_for_status(AgentStatus::stopped()));
  }
  // The timer queue's thread is the one task left; the deadlines and the refresh's next
  // step wait in its queue.
  EXPECT_TRUE(test::wait_until([&] { return TaskRuntimeAccess::live_tasks(*runtime_) == 1; }));
  EXPECT_EQ(TimerQueueAccess::pending(runtime_->timers()), std::size_t{kStops + 1});
  EXPECT_TRUE(test::wait_until([&] {
    return std::all_of(kill_signals.begin(), kill_signals.end(), [](const auto& kill) { return kill.expired(); });
  }));
}

// Followed, the state directory is read when it changes: the clock alone would take hours.
TEST_F(SupervisorTest, FollowingTheStateDirectorySeesEachChangeWithoutAClock) {
  if (!platform::StateDirectoryWatch::start(dir_.path(), "probe", [](const auto&) {})) {
    GTEST_SKIP() << "this system reports no changes of a directory; the supervisor reads it on a clock";
  }
  follow_state_directory_ = true;
  SupervisorTimings timings{1h, 1h, 300ms, 5ms};
  timings.safety_refresh = 1h;
  timings.lock_settle = 50ms;
  auto& supervisor = make_supervisor(timings);
  std::optional<agent_side::FileLock> lock;
  struct Step {
    const char* name;
    std::function<void()> change;
    std::function<bool()> seen;
  };
  const Step steps[] = {
      {"config.json made", [&] { enroll("https://one"); }, [&] { return supervisor.hub_url() == "https://one"; }},
      {"the lock taken by an agent started elsewhere", [&] { lock = test::hold_lock(dir_ / kLockFileName); },
       [&] { return supervisor.status() == AgentStatus::running_elsewhere(); }},
      {"its status.json written", [&] { test::write_file(dir_ / "status.json", R"({"pid": 77, "hub": {"connected": true}})"); },
       [&] { return supervisor.hub_connected() == true; }},
      {"the lock released as that agent ends", [&] { lock.reset(); },
       [&] { return supervisor.status() == AgentStatus::stopped(); }},
      {"the directory removed, and made again with a hub",
       [&] {
         std::filesystem::remove_all(dir_.path());
         std::filesystem::create_directories(dir_.path());
         enroll("https://three");
       },
       [&] { return supervisor.hub_url() == "https://three"; }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.change();
    EXPECT_TRUE(test::wait_until(step.seen));
  }
}

// A refresh that hangs in a read holds up no deadline: the forced end still comes.
TEST_F(SupervisorTest, ARefreshHungInAReadHoldsUpNoForcedEnd) {
  enroll();
  agents_.ignore_stop = true;
  through_reads_ = true;
  auto& supervisor = make_supervisor({20ms, 300ms, 300ms, 5ms});
  start_and_confirm();
  reads_.set_closed(true);
  ASSERT_TRUE(test::wait_until([&] { return reads_.waiting() == 1; }));
  supervisor.stop();
  EXPECT_TRUE(test::wait_until([&] { return agents_.last_child()->terminated.load(); }, 10s));
  EXPECT_TRUE(wait_for_status(AgentStatus::stopped()));
  // One refresh at a time: the clock started no other behind the hung one.
  EXPECT_EQ(reads_.waiting(), 1);
}

TEST_F(SupervisorTest, StopAndWaitReturnsOnceTheChildIsGone) {
  enroll();
  auto& supervisor = make_supervisor();
  start_and_confirm();
  supervisor.stop_and_wait();
  EXPECT_FALSE(supervisor.has_child());
  EXPECT_EQ(supervisor.status(), AgentStatus::stopped());
}

TEST_F(SupervisorTest, StopAndWaitGivesUpAfterItsLimit) {
  enroll();
  agents_.ignore_stop = true;
  // A poll longer than the limit: the wait still ends at the limit, not a poll later.
  auto& supervisor = make_supervisor({1h, 1h, 50ms, 1h});
  start_and_confirm();
  const auto started = std::chrono::steady_clock::now();
  supervisor.stop_and_wait();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
  EXPECT_TRUE(supervisor.has_child());
  EXPECT_EQ(supervisor.status(), AgentStatus::stopping());
}

// The refresh step without a child, for every status and lock state.
TEST_F(SupervisorTest, RefreshWithoutChildFollowsTheTable) {
  struct Case {
    AgentStatus before;
    bool lock_held;
    AgentStatus after;
  };
  const Case cases[] = {
      {AgentStatus::stopped(), true, AgentStatus::running_elsewhere()},
      {AgentStatus::stopped(), false, AgentStatus::stopped()},
      {AgentStatus::starting(), true, AgentStatus::starting()},
      {AgentStatus::starting(), false, AgentStatus::starting()},
      {AgentStatus::running(), true, AgentStatus::running()},
      {AgentStatus::stopping(), false, AgentStatus::stopping()},
      {AgentStatus::running_elsewhere(), true, AgentStatus::running_elsewhere()},
      {AgentStatus::running_elsewhere(), false, AgentStatus::stopped()},
      {AgentStatus::not_enrolled(), true, AgentStatus::running_elsewhere()},
      {AgentStatus::not_enrolled(), false, AgentStatus::not_enrolled()},
      {AgentStatus::failed("why"), true, AgentStatus::running_elsewhere()},
      {AgentStatus::failed("why"), false, AgentStatus::failed("why")},
  };
  test::write_file(dir_ / "status.json", R"({"pid": 77, "hub": {"connected": false}})");
  auto& supervisor = make_supervisor();
  const auto state = supervisor.state();
  for (const Case& c : cases) {
    SCOPED_TRACE(status_label(c.before) + (c.lock_held ? " held" : " free"));
    std::optional<agent_side::FileLock> lock;
    if (c.lock_held) {
      lock = test::hold_lock(dir_ / "tallowmered.lock");
      ASSERT_TRUE(lock);
    }
    {
      std::lock_guard guard(state->mutex);
      state->status = c.before;
    }
    supervisor.refresh_status();
    EXPECT_EQ(supervisor.status(), c.after);
    // Another agent's connection shows only while it holds the lock.
    EXPECT_EQ(supervisor.hub_connected(), c.lock_held ? std::optional<bool>(false) : std::nullopt);
  }
  // The table was applied by hand, not through the supervisor's own moves.
  std::lock_guard lock(transitions_mutex_);
  transitions_.clear();
}

TEST_F(SupervisorTest, StatusFileOfAnotherPidDoesNotConfirmTheChild) {
  enroll();
  agents_.confirm = false;
  test::write_file(dir_ / "status.json", R"({"pid": 1, "hub": {"connected": true}})");
  auto& supervisor = make_supervisor();
  supervisor.start();
  ASSERT_TRUE(test::wait_until([&] { return supervisor.has_child(); }));
  supervisor.refresh_status();
  EXPECT_EQ(supervisor.status(), AgentStatus::starting());
  EXPECT_EQ(supervisor.hub_connected(), std::nullopt);
}

TEST_F(SupervisorTest, StaleConnectedStatusFileWithoutAgentShowsNothing) {
  enroll();
  test::write_file(dir_ / "status.json", R"({"pid": 1, "hub": {"connected": true}})");
  auto& supervisor = make_supervisor();
  supervisor.refresh_status();
  EXPECT_EQ(supervisor.status(), AgentStatus::stopped());
  EXPECT_EQ(supervisor.hub_connected(), std::nullopt);
}

TEST_F(SupervisorTest, RunningAgentFollowsItsStatusFile) {
  enroll();
  auto& supervisor = make_supervisor();
  start_and_confirm();
  const auto pid = std::to_string(agents_.last_child()->pid);
  test::write_file(dir_ / "status.json", "{\"pid\": " + pid + ", \"hub\": {\"connected\": false}}");
  supervisor.refresh_status();
  EXPECT_EQ(supervisor.hub_connected(), false);
  test::write_file(dir_ / "status.json", "{\"pid\": " + pid + "}");
  supervisor.refresh_status();
  EXPECT_EQ(supervisor.hub_connected(), std::nullopt);
  std::filesystem::remove(dir_ / "status.json");
  supervisor.refresh_status();
  EXPECT_EQ(supervisor.status(), AgentStatus::running());
  EXPECT_EQ(supervisor.hub_connected(), std::nullopt);
}

TEST_F(SupervisorTest, HubUrlFollowsConfigFileWithoutTouchingTheAgent) {
  enroll("https://one");
  auto& supervisor = make_supervisor();
  start_and_confirm();
  enroll("https://two");
  supervisor.refresh_status();
  EXPECT_EQ(supervisor.hub_url(), "https://two");
  std::filesystem::remove(dir_ / "config.json");
  supervisor.refresh_status();
  EXPECT_EQ(supervisor.hub_url(), std::nullopt);
  EXPECT_EQ(supervisor.status(), AgentStatus::running());
}

TEST_F(SupervisorTest, EnrollmentSeenByTheRefreshStartsTheAgent) {
  auto& supervisor = make_supervisor();
  supervisor.start();
  ASSERT_EQ(supervisor.status(), AgentStatus::not_enrolled());
  enroll();
  supervisor.refresh_status();
  EXPECT_EQ(supervisor.hub_url(), "https://hub.example:8443/ui");
  EXPECT_TRUE(test::wait_until([&] { return supervisor.has_child(); }));
}

TEST_F(SupervisorTest, RefreshLoopRunsAtItsOwnPace) {
  enroll();
  auto& supervisor = make_supervisor({20ms, 50ms, 300ms, 5ms});
  supervisor.start();
  EXPECT_TRUE(wait_for_status(AgentStatus::running()));
}

// Many threads pressing every button at once: never two children, only table
// moves (checked in TearDown), and no deadlock.
TEST_F(SupervisorTest, ConcurrentOperationsKeepTheInvariants) {
  enroll();
  auto& supervisor = make_supervisor({1ms, 5ms, 50ms, 1ms});
  constexpr int kThreads = 4;
  constexpr int kMinimumOperationsPerThread = 2500;
  constexpr int kWantedLaunches = 300;
  // Slow hosts (Wine) stop at the time limit with fewer launches; the invariants still count.
  const auto give_up = std::chrono::steady_clock::now() + 20s;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(1234 + t);
      for (int i = 0; (i < kMinimumOperationsPerThread || agents_.launches() < kWantedLaunches) &&
                      std::chrono::steady_clock::now() < give_up;
           ++i) {
        switch (random() % 6) {
          case 0: supervisor.start(); break;
          case 1: supervisor.stop(); break;
          case 2: supervisor.restart(); break;
          case 3: supervisor.refresh_status(); break;
          case 4: agents_.ignore_stop = random() % 2 == 0; break;
          case 5:
            if (auto child = agents_.last_child(); child && random() % 4 == 0) child->end(random() % 3);
            break;
        }
        // Leave the launch tasks and exit watches room to move between presses.
        if (i % 8 == 0) std::this_thread::sleep_for(50us);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(agents_.overlapping_launches(), 0);
  EXPECT_GE(agents_.launches(), 20);
  supervisor.stop();
  EXPECT_TRUE(test::wait_until([&] { return !supervisor.has_child(); }));
  const Kind settled = supervisor.status().kind();
  EXPECT_NE(settled, Kind::running);
  EXPECT_NE(settled, Kind::stopping);
}

}  // namespace
}  // namespace tallow
