// Many start/stop cycles in one tray: every handle (Windows) or descriptor (Linux)
// opened for a child is closed again. TALLOW_CYCLES sets the count (default 100).

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "support/agent_fixture.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;
using Kind = AgentStatus::Kind;
using Clock = std::chrono::steady_clock;

int cycle_count() {
  const auto text = platform::environment_variable("TALLOW_CYCLES");
  if (!text || text->empty()) return 100;
  const long count = std::strtol(text->c_str(), nullptr, 10);
  return count > 0 ? static_cast<int>(count) : 100;
}

// Wine, on a busy machine, now and then loses a new process during its own start-up:
// CreateProcess then fails with ERROR_INTERNAL_ERROR (seen three times in many thousand
// starts, each on a loaded machine; never natively). Such a start ran no agent and left
// nothing of ours open, so it is tried again: that failure and no other, for a tenth of
// the cycles at most.
bool lost_by_the_emulator(const AgentStatus& status) {
  return status.kind() == Kind::failed && status.reason().ends_with("(os error 1359)");
}

class SupervisorCyclesTest : public AgentFixture {
 protected:
  // One start until the agent confirms, one stop until it is gone; false on the first
  // step that does not happen, with the reason recorded.
  bool cycle(int number) {
    for (;;) {
      supervisor().start();
      wait_until([&] {
        const Kind now = kind();
        return now == Kind::running || now == Kind::failed;
      }, 20s);
      if (!lost_by_the_emulator(status()) || lost_starts_ == cycles_ / 10) break;
      ++lost_starts_;
    }
    if (kind() != Kind::running) {
      ADD_FAILURE() << "cycle " << number << ": not Running but \"" << status_label(status()) << "\"";
      return false;
    }
    supervisor().stop();
    if (!wait_for_no_child() || status() != AgentStatus::stopped()) {
      ADD_FAILURE() << "cycle " << number << ": not Stopped but \"" << status_label(status()) << "\"";
      return false;
    }
    return true;
  }

  const int cycles_ = cycle_count();
  int lost_starts_ = 0;
};

TEST_F(SupervisorCyclesTest, StartStopCyclesLeaveTheOpenHandleCountWhereItBegan) {
  const int cycles = cycles_;
  write_config();
  auto timings = short_timings();
  timings.refresh_interval = 50ms;
  // Short, so the stop timers left from the last cycles run out soon after them.
  timings.stop_grace = 1s;
  create_supervisor(timings);

  // Whatever is opened once per process (the first child, the first stop) is not a leak.
  ASSERT_TRUE(cycle(0));
  ASSERT_TRUE(settle_runtime());
  // Some systems (Wine among them) do not tell a process how many handles it has;
  // the cycles still run there, only the count is not compared.
  const std::size_t before = open_handles();

  const auto begun = Clock::now();
  int done = 0;
  while (done < cycles && cycle(done + 1)) ++done;
  const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
  ASSERT_EQ(done, cycles);

  ASSERT_TRUE(settle_runtime());
  // Handles of a child that just ended may take a moment to be released by the system.
  wait_until([&] { return open_handles() <= before; }, 10s);
  const std::size_t after = open_handles();
  std::printf("[ figures  ] %d start/stop cycles in %.1f s (%.0f ms each), %d starts lost by the "
              "emulator and tried again; open handles %zu before, %zu after\n",
              cycles, seconds, 1000.0 * seconds / cycles, lost_starts_, before, after);
  std::fflush(stdout);
  if (before == 0 && after == 0) {
    GTEST_SKIP() << "this system reports no open handle count; " << cycles << " cycles passed";
  }
  // A leak grows with the cycles. Wine creates a couple of handles of its own, once,
  // at some point during the first cycles (17 before, 18 after 10 cycles and 19 after
  // 100 or 250), so a small constant difference is not counted; natively the counts match.
  const std::size_t tolerated = static_cast<std::size_t>(cycles) / 20;
  EXPECT_LE(after, before + tolerated)
      << (after - before) << " handles more after " << cycles << " cycles";
}

}  // namespace
}  // namespace tallow::test
