#include "tasks/task_runtime.h"

#include <atomic>

#include "common/failure.h"

namespace tallow {

Result<std::shared_ptr<TaskRuntime>> TaskRuntime::create() {
  auto shutdown = platform::WakeEvent::create();
  if (!shutdown) return shutdown.error();
  auto runtime = std::make_shared<TaskRuntime>(std::move(shutdown).value());
  // A task like any other, so that shutdown joins it with the rest. The runtime outlives
  // it: the runtime's end joins its tasks.
  if (!runtime->spawn([timers = &runtime->timers_] { timers->serve(); })) {
    return Error{"The timer thread could not be started."};
  }
  return runtime;
}

TaskRuntime::TaskRuntime(std::shared_ptr<platform::WakeEvent> shutdown)
    : shutdown_(std::move(shutdown)) {}

TaskRuntime::~TaskRuntime() { shutdown(); }

bool TaskRuntime::spawn(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  if (is_shutting_down()) return false;
  join_finished_locked();
  auto finished = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread([task = std::move(task), finished]() mutable {
      // A failure ends this task only.
      run_background_work(task);
      // Release what the task captured before announcing the end, so nothing it
      // owned outlives a join.
      task = nullptr;
      finished->store(true, std::memory_order_release);
    });
    workers_.push_back(Worker{std::move(thread), std::move(finished)});
  } catch (const std::system_error&) {
    return false;  // no thread could be had
  }
  return true;
}

void TaskRuntime::shutdown() {
  shutdown_->raise();
  timers_.shutdown();
  // Tasks may still be spawning others until they notice the shutdown, so join
  // until the list stays empty; spawn refuses new work from now on.
  for (;;) {
    std::list<Worker> workers;
    {
      std::lock_guard lock(mutex_);
      workers.swap(workers_);
    }
    if (workers.empty()) return;
    for (Worker& worker : workers) {
      if (worker.thread.joinable()) worker.thread.join();
    }
  }
}

void TaskRuntime::join_finished_locked() {
  for (auto worker = workers_.begin(); worker != workers_.end();) {
    if (worker->finished->load(std::memory_order_acquire)) {
      worker->thread.join();
      worker = workers_.erase(worker);
    } else {
      ++worker;
    }
  }
}

}  // namespace tallow
