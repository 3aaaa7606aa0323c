#pragma once
// Status refreshes asked for by changes in the state directory, run on the timer queue.
// At most one waits at a time: a burst of changes (an agent takes its lock, writes
// status.json, and config.json after an enrollment) is served by one refresh that
// starts after all of them.

#include <functional>
#include <memory>
#include <mutex>

#include "daemon/timer_queue.h"

namespace tallow {

class RefreshRequests : public std::enable_shared_from_this<RefreshRequests> {
 public:
  using Clock = TimerQueue::Clock;

  // `timers` must outlive every request; `refresh` runs on its thread.
  RefreshRequests(TimerQueue& timers, std::function<void()> refresh);

  // Asks for a refresh that starts at `earliest` or later. A refresh already waiting
  // serves the request, starting no earlier than the latest `earliest` asked of it; a
  // refresh already under way does not (it may have read the files too soon).
  void request(Clock::time_point earliest);

 private:
  void run();
  bool schedule(Clock::time_point at);

  TimerQueue& timers_;
  const std::function<void()> refresh_;
  std::mutex mutex_;
  bool waiting_ = false;
  Clock::time_point not_before_;
};

}  // namespace tallow
