#pragma once
// When the status refresh runs: once at the start, then on a clock counted from each
// refresh's end, and whenever a change in the state directory asks for one. One runs at
// a time, on a task of its own, so that a read that hangs (a home directory on a network
// file system that stopped answering) holds up no deadline on the timer queue; requests
// made meanwhile are served by one refresh after it. A burst of requests (an agent takes
// its lock, writes status.json, and config.json after an enrollment) is served by one
// refresh that starts after all of them.

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "tasks/task_runtime.h"

namespace tallow {

class RefreshSchedule : public std::enable_shared_from_this<RefreshSchedule> {
 public:
  using Clock = TimerQueue::Clock;

  // `refresh` runs on a task of `runtime`; `pace`, asked once each refresh has ended, says
  // how long the next one may wait at most. Both may run on any thread.
  RefreshSchedule(std::weak_ptr<TaskRuntime> runtime, std::function<void()> refresh,
                  std::function<std::chrono::nanoseconds()> pace)
      : runtime_(std::move(runtime)), refresh_(std::move(refresh)), pace_(std::move(pace)) {}

  // Asks for a refresh that starts at `earliest` or later. One already waiting serves
  // the request, starting no earlier than the latest `earliest` asked of it; one already
  // under way does not (it may have read the files too soon), so another follows it.
  void request(Clock::time_point earliest);

 private:
  // When the next refresh is due: the earlier of the requested and the paced one.
  Clock::time_point due_locked() const { return requested_ ? std::min(*requested_, paced_) : paced_; }
  void set_timer_locked();
  void on_timer(Clock::time_point set_for);
  void run();
  void finish();

  const std::weak_ptr<TaskRuntime> runtime_;
  const std::function<void()> refresh_;
  const std::function<std::chrono::nanoseconds()> pace_;

  std::mutex mutex_;
  bool running_ = false;
  std::optional<Clock::time_point> requested_;          // the earliest a requested one may start
  Clock::time_point paced_ = Clock::time_point::max();  // when the clock's next one is due
  TimerQueue::Id timer_ = 0;                            // the one timer that looks next, if any
  Clock::time_point timer_at_;
};

}  // namespace tallow
