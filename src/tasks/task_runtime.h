#pragma once
// The background task runtime: a thread per task while it works or waits for a process,
// one timer queue for every deadline, and a shutdown that raises one event and joins
// every task, the timer queue's thread among them.

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "common/result.h"
#include "tasks/timer_queue.h"
#include "platform/process.h"

namespace tallow {

class TaskRuntime {
 public:
  // A runtime whose timer queue is served by one of its tasks.
  static Result<std::shared_ptr<TaskRuntime>> create();

  explicit TaskRuntime(std::shared_ptr<platform::WakeEvent> shutdown) : shutdown_(std::move(shutdown)) {}
  ~TaskRuntime() { shutdown(); }
  TaskRuntime(const TaskRuntime&) = delete;
  TaskRuntime& operator=(const TaskRuntime&) = delete;

  // Runs `task` on a worker thread. Refused (false) once shutdown has begun.
  bool spawn(std::function<void()> task);

  // Deadlines and paces: a callback on the queue's one thread instead of a sleeping task.
  TimerQueue& timers() { return timers_; }

  // Raised when shutdown begins; long waits include it so they end promptly.
  const platform::WakeEvent& shutdown_event() const { return *shutdown_; }
  bool is_shutting_down() const { return shutdown_->is_raised(); }

  // Raises the shutdown event, drops the timers not yet run and waits for every task
  // to end. Must not be called from a task or a timer.
  void shutdown();

 private:
  friend struct TaskRuntimeAccess;  // for tests

  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  std::shared_ptr<platform::WakeEvent> shutdown_;
  TimerQueue timers_;
  mutable std::mutex mutex_;
  std::list<Worker> workers_;
};

}  // namespace tallow
