#pragma once
// The background task runtime: a thread per task, sleeps that end early at shutdown,
// and a shutdown that raises one event and joins every task.

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "common/result.h"
#include "platform/process.h"

namespace tallow {

class TaskRuntime {
 public:
  static Result<std::shared_ptr<TaskRuntime>> create();

  explicit TaskRuntime(std::shared_ptr<platform::WakeEvent> shutdown);
  ~TaskRuntime();
  TaskRuntime(const TaskRuntime&) = delete;
  TaskRuntime& operator=(const TaskRuntime&) = delete;

  // Runs `task` on a worker thread. Refused (false) once shutdown has begun.
  bool spawn(std::function<void()> task);

  // Sleeps for `duration`; returns false at once when the runtime shuts down.
  bool sleep_for(std::chrono::nanoseconds duration) const;

  // Raised when shutdown begins; long waits include it so they end promptly.
  const platform::WakeEvent& shutdown_event() const { return *shutdown_; }
  bool is_shutting_down() const { return shutdown_->is_raised(); }

  // Raises the shutdown event and waits for every task to end. Must not be
  // called from a task.
  void shutdown();

  // Tasks started and not yet joined; for tests and leak checks.
  std::size_t live_task_count() const;

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  void join_finished_locked();

  std::shared_ptr<platform::WakeEvent> shutdown_;
  mutable std::mutex mutex_;
  std::list<Worker> workers_;
};

}  // namespace tallow
