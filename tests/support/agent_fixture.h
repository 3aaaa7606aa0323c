#pragma once
// A supervisor over a scratch state directory and the stand-in agent, with real
// processes, for the supervisor's process tests. Every test ends with no agent child
// left and the runtime shut down, whatever it did to the supervisor.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <list>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "agent/agent_status.h"
#include "agent/supervisor.h"
#include "tasks/task_runtime.h"
#include "support/process_support.h"
#include "support/tasks_access.h"
#include "support/test_support.h"

namespace tallow::test {

inline constexpr std::string_view kTestHubUrl = "https://hub.tallowmere.test/";

// Sets a variable of this process for as long as it lives, and puts back what was
// there before (including "not set"). Only to be used while no other thread of the
// test reads the environment: before the supervisor exists and after it is shut down.
class ScopedProcessVariable {
 public:
  // nullopt removes the variable for the guard's lifetime.
  ScopedProcessVariable(std::string name, std::optional<std::string> value);
  ~ScopedProcessVariable();
  ScopedProcessVariable(const ScopedProcessVariable&) = delete;
  ScopedProcessVariable& operator=(const ScopedProcessVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// Sets or removes a variable of this process; false when the runtime library refused.
bool set_process_variable(const std::string& name, const std::optional<std::string>& value);

// Timings short enough for tests and long enough for a slow emulator: refresh every
// 100 ms, 1.5 s of grace before the forced end, 4 s of waiting at log-off.
SupervisorTimings short_timings();

struct TransitionLog;

class AgentFixture : public ::testing::Test {
 protected:
  AgentFixture();
  ~AgentFixture() override;

  void SetUp() override;
  void TearDown() override;

  // The state directory; a fresh one that exists, unless `use_state_directory` chose another.
  const std::filesystem::path& state_dir() const { return state_dir_; }
  // Chooses the state directory (before `create_supervisor`), for paths that do not
  // exist yet or contain spaces. Give a path inside `scratch()`, so it is removed at the end.
  void use_state_directory(std::filesystem::path directory);
  // A place for files that are not in the state directory.
  const std::filesystem::path& scratch() const { return scratch_.path(); }

  // config.json with a hub URL: the computer counts as enrolled.
  void write_config(std::string_view hub_url = kTestHubUrl);
  // The env file, verbatim.
  void write_env_text(std::string_view text);
  // The env file, one "KEY=VALUE" line per entry, in order.
  void write_env(std::initializer_list<std::pair<std::string_view, std::string_view>> entries);
  // status.json as an agent writes it; connected absent leaves out the "hub" member.
  void write_status_file(std::uint32_t pid, std::optional<bool> connected);

  // Sets (or with nullopt removes) a variable of the test process, as the tray's own
  // environment, until the test has ended; only before `create_supervisor`.
  void set_process_environment(std::string name, std::optional<std::string> value);

  // The stand-in agent built beside the tests.
  static std::filesystem::path agent_program();

  // Creates the supervisor (its refresh loop starts at once). Files meant to be seen
  // at creation (config.json) must be written before.
  Supervisor& create_supervisor(SupervisorTimings timings = short_timings());
  Supervisor& create_supervisor(SupervisorOptions options);
  Supervisor& supervisor();
  bool has_supervisor() const { return supervisor_.has_value(); }

  AgentStatus status() const;
  AgentStatus::Kind kind() const { return status().kind(); }
  std::uint32_t child_pid() const;
  bool has_child() const;

  bool wait_for_kind(AgentStatus::Kind kind, std::chrono::milliseconds limit = std::chrono::seconds(20));
  bool wait_for_status(const AgentStatus& expected, std::chrono::milliseconds limit = std::chrono::seconds(20));
  bool wait_for_no_child(std::chrono::milliseconds limit = std::chrono::seconds(20));

  // start(), then waits until the agent confirmed itself; returns its pid (0 on failure,
  // with the test failed).
  std::uint32_t start_until_running();
  // stop(), then waits until the child is gone and the status is Stopped.
  void stop_until_stopped();
  // What the stop timer does when the grace period is over: the exit watch ends the
  // child by force. No effect without a child.
  void raise_kill_signal();

  // Every status change so far, as (from, to) kinds, in order; recorded by the
  // supervisor's status observer under its own lock.
  using Transition = std::pair<AgentStatus::Kind, AgentStatus::Kind>;
  std::vector<Transition> transitions() const;
  // The kinds the status went through since the transitions were last cleared, each
  // change once: {Starting, Running, Stopping, Stopped} for a plain run.
  std::vector<AgentStatus::Kind> kinds_seen() const;
  void clear_transitions();

  // Contents of tallowmered.log; empty when missing.
  std::string log_text() const;
  // launch.json of the last agent run; an empty object while there is none.
  nlohmann::json launch_record() const;
  // The grandchild the agent started, once grandchild.pid is written.
  std::optional<std::uint32_t> grandchild_pid() const;
  // Processes the test started itself; any still running are ended at tear-down.
  void track_process(std::uint32_t pid) { tracked_.push_back(pid); }

  // Tasks of the runtime still running (the refresh loop is always one of them).
  std::size_t live_tasks() const { return TaskRuntimeAccess::live_tasks(*runtime_); }
  // Waits until only the refresh loop runs and every finished worker is joined but one,
  // so that two calls leave the runtime in the same shape; false when it did not settle.
  bool settle_runtime(std::chrono::milliseconds limit = std::chrono::seconds(30));

  // The state-directory argument the agent must receive.
  std::string expected_argument() const;

 private:
  void shut_down_supervisor();

  TempDir scratch_;
  std::filesystem::path state_dir_;
  std::shared_ptr<TaskRuntime> runtime_;
  std::optional<Supervisor> supervisor_;
  std::vector<std::uint32_t> tracked_;
  std::shared_ptr<TransitionLog> transitions_;
  // Every test starts without a listen setting from outside; tests that want one set it.
  std::optional<ScopedProcessVariable> no_listen_;
  std::list<ScopedProcessVariable> variables_;
};


// "Running", "Stopping"... for messages.
std::string kind_name(AgentStatus::Kind kind);
std::string kind_names(const std::vector<AgentStatus::Kind>& kinds);

}  // namespace tallow::test
