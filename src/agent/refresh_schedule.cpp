#include "agent/refresh_schedule.h"

#include <algorithm>

namespace tallow {

void RefreshSchedule::request(Clock::time_point earliest) {
  std::lock_guard lock(mutex_);
  requested_ = requested_ ? std::max(*requested_, earliest) : earliest;
  set_timer_locked();
}

void RefreshSchedule::set_timer_locked() {
  // A refresh under way sets the timer as it ends.
  if (running_) return;
  const Clock::time_point due = due_locked();
  if (due == Clock::time_point::max()) return;
  if (timer_ != 0 && timer_at_ <= due) return;
  const auto runtime = runtime_.lock();
  if (!runtime) return;
  // One timer at a time: an idle tray wakes for nothing but the refresh it waits for.
  if (timer_ != 0) runtime->timers().cancel(timer_);
  timer_at_ = due;
  timer_ = runtime->timers().schedule_at(due, [weak = weak_from_this(), due] {
    if (const auto self = weak.lock()) self->on_timer(due);
  });
}

void RefreshSchedule::on_timer(Clock::time_point set_for) {
  {
    std::lock_guard lock(mutex_);
    // A timer that a cancel came too late for may still run: it is not the one waited for.
    if (timer_ != 0 && timer_at_ == set_for) timer_ = 0;
    const Clock::time_point now = Clock::now();
    if (running_ || now < due_locked()) return set_timer_locked();
    running_ = true;
    // Served only by a refresh that starts no earlier than it asked.
    if (requested_ && now >= *requested_) requested_.reset();
  }
  const auto runtime = runtime_.lock();
  if (!runtime || !runtime->spawn([self = shared_from_this()] { self->run(); })) {
    // Refused while the program ends: nothing runs any more.
    std::lock_guard lock(mutex_);
    running_ = false;
  }
}

void RefreshSchedule::run() {
  // Whatever becomes of the refresh, the next one is scheduled: a failure ends this task alone.
  struct Finish {
    RefreshSchedule& schedule;
    ~Finish() { schedule.finish(); }
  } finish{*this};
  refresh_();
}

void RefreshSchedule::finish() {
  // Asked outside the lock: it may ask the state directory's watch.
  const std::chrono::nanoseconds pace = pace_();
  std::lock_guard lock(mutex_);
  running_ = false;
  const Clock::time_point now = Clock::now();
  // Beyond what the clock can hold, a pace is as good as never.
  paced_ = pace < Clock::time_point::max() - now ? now + std::chrono::duration_cast<Clock::duration>(pace)
                                                  : Clock::time_point::max();
  set_timer_locked();
}

}  // namespace tallow
