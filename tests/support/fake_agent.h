#pragma once
// An in-process stand-in for agent children, so supervisor decisions can be driven
// quickly and deterministically without starting processes.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "agent/supervisor.h"

namespace tallow::test {

class FakeAgents {
 public:
  // One fake child, shared by the supervisor's exit watch and the test.
  struct Child {
    std::uint32_t pid = 0;
    std::shared_ptr<platform::WakeEvent> ended;
    std::atomic<std::uint32_t> exit_code{0};
    std::atomic<int> stop_requests{0};
    std::atomic<bool> terminated{false};
    std::mutex end_mutex;

    // Ends the child with `code` unless it has already ended.
    void end(std::uint32_t code);
    bool has_ended() const { return ended->is_raised(); }
  };

  explicit FakeAgents(std::filesystem::path state_directory)
      : state_directory_(std::move(state_directory)) {}

  // The launcher to put into SupervisorOptions.
  AgentLauncher launcher();

  // Knobs for the next launches.
  std::atomic<bool> fail_launch{false};
  std::atomic<bool> ignore_stop{false};
  std::atomic<bool> deliver_stop{true};
  std::atomic<bool> confirm{true};   // write status.json with the child's pid

  std::vector<std::shared_ptr<Child>> children() const;
  std::shared_ptr<Child> last_child() const;
  int launches() const;
  // Launches that happened while an earlier child had not yet ended.
  int overlapping_launches() const { return overlapping_launches_.load(); }

 private:
  std::filesystem::path state_directory_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Child>> children_;
  std::uint32_t next_pid_ = 4000;
  std::atomic<int> overlapping_launches_{0};
};

}  // namespace tallow::test
