#include "daemon/refresh_requests.h"

#include <algorithm>

namespace tallow {

RefreshRequests::RefreshRequests(TimerQueue& timers, std::function<void()> refresh)
    : timers_(timers), refresh_(std::move(refresh)) {}

void RefreshRequests::request(Clock::time_point earliest) {
  {
    std::lock_guard lock(mutex_);
    if (waiting_) {
      not_before_ = std::max(not_before_, earliest);
      return;
    }
    waiting_ = true;
    not_before_ = earliest;
  }
  schedule(earliest);
}

bool RefreshRequests::schedule(Clock::time_point at) {
  if (timers_.schedule_at(at, [self = shared_from_this()] { self->run(); }) != 0) return true;
  // Refused while the program ends: nothing waits any more.
  std::lock_guard lock(mutex_);
  waiting_ = false;
  return false;
}

void RefreshRequests::run() {
  Clock::time_point not_before;
  bool due;
  {
    std::lock_guard lock(mutex_);
    not_before = not_before_;
    due = Clock::now() >= not_before;
    // Changes from now on need a refresh that starts after them.
    if (due) waiting_ = false;
  }
  // A request made while this one waited asked for a later start.
  if (!due) {
    schedule(not_before);
    return;
  }
  refresh_();
}

}  // namespace tallow
