#include "tasks/timer_queue.h"

#include <algorithm>
#include <utility>

#include "common/failure.h"

namespace tallow {

TimerQueue::Id TimerQueue::schedule_at(Clock::time_point deadline, std::function<void()> callback) {
  Id id;
  {
    std::lock_guard lock(mutex_);
    // Refused callbacks are dropped below, outside the lock: what they captured may
    // take a while to let go of.
    if (shut_down_) return 0;
    id = ++last_id_;
    const auto entry = entries_.emplace(Key{deadline, id}, std::move(callback)).first;
    // Only a new first deadline changes how long the serving thread has to wait.
    if (entry != entries_.begin()) return id;
  }
  changed_.notify_one();
  return id;
}

TimerQueue::Id TimerQueue::schedule_after(std::chrono::nanoseconds delay, std::function<void()> callback) {
  // Beyond a century a delay is as good as never: such a deadline waits without a time,
  // and cannot overflow the clock or the conversions of a timed wait.
  const bool never = delay > std::chrono::hours(24 * 365 * 100);
  const Clock::time_point deadline =
      never ? Clock::time_point::max()
            : Clock::now() + std::chrono::duration_cast<Clock::duration>(std::max(delay, std::chrono::nanoseconds::zero()));
  return schedule_at(deadline, std::move(callback));
}

bool TimerQueue::cancel(Id id) {
  // Declared before the lock, so it goes after it: its captures may be the last owners
  // of anything.
  std::function<void()> dropped;
  std::lock_guard lock(mutex_);
  // A few hundred entries at most (a storm of stops): a look through them is enough.
  const auto entry = std::find_if(entries_.begin(), entries_.end(), [id](const auto& e) { return e.first.id == id; });
  if (entry == entries_.end()) return false;
  dropped = std::move(entry->second);
  entries_.erase(entry);
  return true;
}

void TimerQueue::serve() {
  std::unique_lock lock(mutex_);
  while (!shut_down_) {
    const auto first = entries_.begin();
    // A deadline of never waits without a time, like an empty queue.
    if (first == entries_.end() || first->first.deadline == Clock::time_point::max()) {
      changed_.wait(lock);
      continue;
    }
    if (const Clock::time_point deadline = first->first.deadline; Clock::now() < deadline) {
      // Woken early by a nearer deadline, a shutdown or nothing at all: look again. The
      // wait reads its deadline again after the lock is given up, when a cancel or the
      // shutdown may have taken the entry away: it waits on a copy.
      changed_.wait_until(lock, deadline);
      continue;
    }
    std::function<void()> callback = std::move(first->second);
    entries_.erase(first);
    lock.unlock();
    run_background_work(callback);
    // What the callback captured goes before the next one runs, and outside the lock.
    callback = nullptr;
    lock.lock();
  }
}

void TimerQueue::shutdown() {
  std::map<Key, std::function<void()>> dropped;
  {
    std::lock_guard lock(mutex_);
    shut_down_ = true;
    dropped.swap(entries_);
  }
  changed_.notify_all();
}

}  // namespace tallow
