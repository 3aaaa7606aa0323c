// The add-retry rule every platform's notification icon follows.

#include "platform/notification_icon.h"

#include <cstdio>

namespace tallow::platform {

bool IconAddRetry::begin(Clock::time_point now) {
  if (stage_ == Stage::removed || failure_) return false;
  stage_ = Stage::adding;
  since_ = now;
  return true;
}

void IconAddRetry::added() {
  if (stage_ == Stage::removed) return;
  stage_ = Stage::added;
  ever_added_ = true;
}

bool IconAddRetry::refused(Clock::time_point now, std::string_view reason) {
  if (stage_ != Stage::adding) return false;
  const auto waited = now - since_;
  if (patience_ == Patience::wait_and_tell || waited < timing_.give_up_after) return true;
  stage_ = Stage::waiting;
  if (ever_added_) return false;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f",
                std::chrono::duration_cast<std::chrono::duration<double>>(waited).count());
  std::string message = std::string("the notification area refused it for ") + seconds + " s";
  if (!reason.empty()) message += ": " + std::string(reason);
  failure_ = Error{std::move(message)};
  return false;
}

bool IconAddRetry::time_to_tell_user(Clock::time_point now) {
  if (patience_ != Patience::wait_and_tell || told_user_) return false;
  if (stage_ != Stage::adding && stage_ != Stage::waiting) return false;
  if (now - since_ < timing_.tell_user_after) return false;
  told_user_ = true;
  return true;
}

}  // namespace tallow::platform
