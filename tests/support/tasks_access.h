#pragma once
// The tests' view inside the task runtime and its timer queue: what waits and what runs.

#include <algorithm>
#include <cstddef>
#include <mutex>

#include "tasks/task_runtime.h"

namespace tallow {

struct TimerQueueAccess {
  // Callbacks scheduled and not yet started.
  static std::size_t pending(const TimerQueue& queue) {
    std::lock_guard lock(queue.mutex_);
    return queue.entries_.size();
  }
};

struct TaskRuntimeAccess {
  // Tasks started and not yet ended.
  static std::size_t live_tasks(const TaskRuntime& runtime) {
    std::lock_guard lock(runtime.mutex_);
    return static_cast<std::size_t>(std::count_if(runtime.workers_.begin(), runtime.workers_.end(), [](const auto& worker) {
      return !worker.finished->load(std::memory_order_acquire);
    }));
  }
};

}  // namespace tallow
