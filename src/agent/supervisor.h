#pragma once
// The agent supervisor: starts, stops and restarts the agent child, watches its
// exit and keeps the shared record the tray shows, refreshed from the state files
// whenever they change (where the system reports changes) or on a clock.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "common/result.h"
#include "agent/agent_control.h"
#include "agent/agent_locations.h"
#include "agent/agent_status.h"
#include "agent/refresh_schedule.h"
#include "tasks/task_runtime.h"
#include "platform/process.h"
#include "platform/state_directory_watch.h"
#include "agent/state_files.h"

namespace tallow {

// The product's pace; tests shorten it.
struct SupervisorTimings {
  // Between two refreshes where the state directory is not watched: on Windows, and on
  // Linux while the system refuses a watch.
  std::chrono::nanoseconds refresh_interval = std::chrono::seconds(3);
  std::chrono::nanoseconds stop_grace = std::chrono::seconds(20);
  std::chrono::nanoseconds logoff_wait = std::chrono::seconds(4);
  std::chrono::nanoseconds logoff_poll = std::chrono::milliseconds(100);
  // Between two refreshes where it is watched, for file systems that report no changes
  // (a home directory on NFS).
  std::chrono::nanoseconds safety_refresh = std::chrono::seconds(60);
  // From another process's open or close of the lock file to the refresh it calls for
  // (see RefreshCall::once_the_lock_settles).
  std::chrono::nanoseconds lock_settle = std::chrono::milliseconds(100);
};

// Everything the supervisor knows, behind its one mutex.
struct SupervisorState {
  std::mutex mutex;
  std::optional<std::string> hub_url;
  std::optional<Notice> notice;
  AgentStatus status = AgentStatus::stopped();
  std::uint32_t child_pid = 0;
  // Present exactly while the supervisor has a child; raising it makes the exit
  // watch terminate that child.
  std::shared_ptr<platform::WakeEvent> kill_signal;
  // Delivers the graceful stop request to the current child.
  platform::StopRequestSender send_stop_request;
  bool restart_pending = false;
  std::optional<bool> hub_connected;
};

// Starts the agent for a supervisor; replaced by a fake in tests.
using AgentLauncher = std::function<Result<std::unique_ptr<platform::ChildProcess>>(
    const std::filesystem::path& state_directory, const std::filesystem::path& agent_path)>;

// What a refresh reads before it takes the lock: config.json's hub URL and status.json.
struct StateFileReads {
  std::optional<std::string> hub_url;
  std::optional<StatusFileRecord> status;
};
// Reads them for a supervisor; replaced in tests by one that hangs as a network file
// system can.
using StateFileReader = std::function<StateFileReads(const std::filesystem::path& state_directory)>;

class Supervisor;
// Runs an enrollment for a supervisor as a background task (run_enrollment); replaced
// by a fake in tests.
using EnrollmentRunner =
    std::function<void(const Supervisor& supervisor, const std::string& code, const std::string& hub)>;

struct SupervisorOptions {
  std::filesystem::path state_directory;
  std::filesystem::path agent_path;
  SupervisorTimings timings;
  AgentLauncher launcher;                // launch_agent when empty
  StateFileReader read_files = nullptr;  // read_hub_url and read_status_file when empty
  EnrollmentRunner run_enrollment = nullptr;  // run_enrollment when empty
  // Called under the supervisor's lock on every status change; must not call back.
  std::function<void(const AgentStatus& from, const AgentStatus& to)> status_observer = nullptr;
  // Refresh when the state directory changes, where the system reports its changes
  // (Linux), and only every safety_refresh besides while it does; elsewhere, or left
  // false (tests that step the refresh by hand), every refresh_interval. The tray sets it.
  bool follow_state_directory = false;
  // Called whenever something the tray shows changed (the status, the hub URL, the hub
  // connection, the notice, whether a child is held), on the thread that changed it,
  // after the lock is released; it wakes the tray's loop. Must be short.
  std::function<void()> on_change = nullptr;
};

// A cheap, copyable handle; the main thread and every task hold their own.
class Supervisor final : public AgentControl {
 public:
  // Reads the hub URL from the state directory and starts the status refresh loop.
  static Supervisor create(std::shared_ptr<TaskRuntime> runtime, SupervisorOptions options);

  // Decides and, if allowed, launches the agent.
  void start() const override;
  // Asks the agent to end; forces it after the grace period.
  void stop() const override;
  // Stop then start, or start when there is no child.
  void restart() const override;
  // Runs the agent's "enroll" in the background (enrollment.h).
  void enroll(const std::string& code, const std::string& hub) const override {
    context_->run_enrollment(*this, code, hub);
  }
  // Stop, then wait a few seconds at most for the child to be gone (end of logon).
  void stop_and_wait() const;

  AgentStatus status() const override { return read(&SupervisorState::status); }
  std::optional<std::string> hub_url() const override { return read(&SupervisorState::hub_url); }
  std::optional<bool> hub_connected() const override { return read(&SupervisorState::hub_connected); }
  bool has_child() const override { return read(&SupervisorState::kill_signal) != nullptr; }
  std::optional<Notice> take_notice() const override;
  // Leaves a notice for the tray, replacing one not shown yet, and takes the hub URL
  // that config.json gives now: how an enrollment's outcome comes back.
  void leave_notice(Notice notice) const;

  std::filesystem::path state_directory() const override { return context_->state_directory; }
  const std::filesystem::path& agent_path() const { return context_->agent_path; }
  std::filesystem::path log_path() const override { return context_->state_directory / kAgentLogFileName; }
  const std::shared_ptr<TaskRuntime>& runtime() const { return runtime_; }
  const std::shared_ptr<SupervisorState>& state() const { return state_; }

  // One status refresh step; it runs whenever the state directory changed, and on a clock.
  void refresh_status() const;

 private:
  // The options, an empty launcher, reader or enrollment runner replaced by the product's own.
  struct Context : SupervisorOptions {
    explicit Context(SupervisorOptions options) : SupervisorOptions(std::move(options)) {}
    std::shared_ptr<RefreshSchedule> refreshes;
    // Last, so it ends first: its thread asks for refreshes.
    std::unique_ptr<platform::StateDirectoryWatch> watch;
  };

  // A hold of the record's lock that, once released, wakes the tray if anything it shows
  // changed meanwhile: the tray's loop sleeps until then.
  class Hold {
   public:
    explicit Hold(const Supervisor& supervisor) : context_(*supervisor.context_), lock_(supervisor.state_->mutex) {}
    ~Hold() {
      lock_.unlock();
      if (changed_ && context_.on_change) context_.on_change();
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

    void changed() { changed_ = true; }

   private:
    const Context& context_;
    std::unique_lock<std::mutex> lock_;
    bool changed_ = false;
  };

  // Changes one field of the record in a hold of its lock, and notes a change.
  template <typename T>
  static void set(Hold& hold, T& field, std::type_identity_t<T> value) {
    if (field == value) return;
    field = std::move(value);
    hold.changed();
  }
  // The same for the status, which its observer hears of first.
  void set_status(Hold& hold, AgentStatus status) const;

  // One field of the record, copied under its lock.
  template <typename T>
  T read(T SupervisorState::*field) const {
    std::lock_guard lock(state_->mutex);
    return (*state_).*field;
  }

  Supervisor(std::shared_ptr<TaskRuntime> runtime, std::shared_ptr<const Context> context,
             std::shared_ptr<SupervisorState> state)
      : runtime_(std::move(runtime)), context_(std::move(context)), state_(std::move(state)) {}

  void run_launch() const;
  void watch_exit(platform::ChildProcess& child, const platform::WakeEvent& kill_signal) const;
  void on_child_exit(const Result<platform::ExitStatus>& outcome) const;
  void on_stop_deadline(std::uint32_t pid, const std::weak_ptr<platform::WakeEvent>& kill_signal) const;
  void run_refresh_step() const;
  std::chrono::nanoseconds refresh_pace() const;

  std::shared_ptr<TaskRuntime> runtime_;
  std::shared_ptr<const Context> context_;
  std::shared_ptr<SupervisorState> state_;
};

}  // namespace tallow
