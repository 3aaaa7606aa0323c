#pragma once
// The background work's timers on one thread: the forced-stop deadline of each stop and
// the moment the next status refresh starts (the refresh itself runs on a task, since a
// read may hang). A deadline costs an entry in a queue, not a thread asleep, so a storm
// of stops leaves no threads behind for the length of the grace.

#include <chrono>
#include <compare>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace tallow {

class TimerQueue {
 public:
  using Clock = std::chrono::steady_clock;
  // Names a scheduled callback; 0 names none.
  using Id = std::uint64_t;

  TimerQueue() = default;
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  // Runs `callback` on the serving thread once `deadline` has come; callbacks due at the
  // same moment run in the order they were scheduled. Refused (0, the callback dropped at
  // once) after shutdown.
  Id schedule_at(Clock::time_point deadline, std::function<void()> callback);
  Id schedule_after(std::chrono::nanoseconds delay, std::function<void()> callback);

  // Takes a callback out before it runs and drops it; false when it already ran, is
  // running, or there is no such callback.
  bool cancel(Id id);

  // Runs callbacks as they fall due until shutdown, one at a time, outside the queue's
  // lock. They must be short (raise an event, spawn a task, never read a file): a
  // late one delays all behind it. A failure in one is reported as a task's is and ends
  // only that callback.
  void serve();

  // Ends serve() once the callback it may be running returns. Pending callbacks are
  // dropped without running, and later schedules refused.
  void shutdown();

 private:
  friend struct TimerQueueAccess;  // for tests

  struct Key {
    Clock::time_point deadline;
    Id id;  // grows with each schedule, so it orders the ties
    auto operator<=>(const Key&) const = default;
  };

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<Key, std::function<void()>> entries_;
  Id last_id_ = 0;
  bool shut_down_ = false;
};

}  // namespace tallow
