// The supervisor following its state directory through a watch that the system may
// refuse, and through the recording of its own child.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "support/posix/refused_inotify.h"
#include "support/supervisor_fixture.h"

namespace tallow {
namespace {

using namespace std::chrono_literals;
using test::SupervisorTest;

SupervisorTimings followed_timings(std::chrono::nanoseconds unwatched_pace) {
  SupervisorTimings timings{unwatched_pace, 1h, 300ms, 5ms};
  timings.safety_refresh = 1h;
  return timings;
}

// A watch the system refuses is no watch: the short pace finds the changes until a
// refresh sets the watch up, and comes back when the watch is lost and cannot be set.
TEST_F(SupervisorTest, ARefusedWatchKeepsTheShortPaceUntilARefreshSetsItUp) {
  follow_state_directory_ = true;
  through_reads_ = true;
  std::optional<test::InotifyRefusal> refusal(std::in_place);
  auto& supervisor = make_supervisor(followed_timings(50ms));
  const auto on_the_clock = [&] {
    const int before = reads_.done();
    return test::wait_until([&] { return reads_.done() >= before + 3; });
  };
  // Still for a while, but for a refresh under way when asked.
  const auto off_the_clock = [&] {
    return test::wait_until([&] {
      const int before = reads_.done();
      std::this_thread::sleep_for(400ms);
      return reads_.done() <= before + 1;
    });
  };
  struct Step {
    const char* name;
    std::function<void()> change;
    std::function<bool()> paced;
    std::string hub;
  };
  const Step steps[] = {
      {"the limit of watches reached", [] {}, on_the_clock, "https://one"},
      {"the limit lifted", [&] { refusal.reset(); }, off_the_clock, "https://two"},
      {"the directory made again while the limit is reached",
       [&] {
         refusal.emplace();
         std::filesystem::remove_all(dir_.path());
         std::filesystem::create_directories(dir_.path());
       },
       on_the_clock, "https://three"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.change();
    EXPECT_TRUE(step.paced());
    enroll(step.hub);
    EXPECT_TRUE(test::wait_until([&] { return supervisor.hub_url() == step.hub; }));
  }
}

// The refresh its own child's confirmation calls for may run before the launch has
// recorded the child; the recording calls for one more.
TEST_F(SupervisorTest, AChildRecordedAfterItConfirmedRunsWithoutAClock) {
  enroll();
  follow_state_directory_ = true;
  launcher_ = [inner = agents_.launcher()](const std::filesystem::path& dir, const std::filesystem::path& agent) {
    auto child = inner(dir, agent);  // has written status.json with its pid
    std::this_thread::sleep_for(200ms);
    return child;
  };
  auto& supervisor = make_supervisor(followed_timings(1h));
  supervisor.start();
  EXPECT_TRUE(wait_for_status(AgentStatus::running()));
}

}  // namespace
}  // namespace tallow
