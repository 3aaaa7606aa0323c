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

bool TaskRuntime::spawn(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  if (is_shutting_down()) return false;
  // Tasks that ended are joined by the next spawn, so the list holds few besides live ones.
  workers_.remove_if([](Worker& worker) {
    if (!worker.finished->load(std::memory_order_acquire)) return false;
    worker.thread.join();
    return true;
  });
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

}  // namespace tallow
