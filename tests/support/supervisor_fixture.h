#pragma once
// A supervisor over a scratch state directory with in-process fake agent children, so its
// decisions are driven quickly and deterministically. Every test ends with no child held
// and the runtime shut down, and every status change it saw checked against the
// supervisor's transition table.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "agent/supervisor.h"
#include "support/fake_agent.h"
#include "support/test_support.h"

namespace tallow::test {

// The refreshes' reads of the state files, counted, and held while closed as a home
// directory on a network file system that stopped answering holds them.
class HeldReads {
 public:
  StateFileReader reader();
  void set_closed(bool closed);
  // Reads done, and reads waiting while closed.
  int done();
  int waiting();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  int waiting_ = 0;
  int done_ = 0;
};

class SupervisorTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The refresh loop's own pace is slowed right down so tests step it by hand.
  Supervisor& make_supervisor(SupervisorTimings timings = {std::chrono::hours(1), std::chrono::milliseconds(50),
                                                           std::chrono::milliseconds(300),
                                                           std::chrono::milliseconds(5)});
  void enroll(std::string_view url = "https://hub.example:8443/ui");
  bool wait_for_status(const AgentStatus& expected);
  void start_and_confirm();

  TempDir dir_{"supervisor"};
  FakeAgents agents_{dir_.path()};
  HeldReads reads_;
  std::shared_ptr<TaskRuntime> runtime_;
  std::optional<Supervisor> supervisor_;
  std::mutex transitions_mutex_;
  std::vector<std::pair<AgentStatus, AgentStatus>> transitions_;
  // For the supervisor made next.
  bool follow_state_directory_ = false;
  AgentLauncher launcher_;      // agents_'s when empty
  bool through_reads_ = false;  // its refreshes read through reads_
};

}  // namespace tallow::test
