// The parts of the notification icon that every platform shares: the pixel check, the
// add-retry rule and the queue of picked commands.

#include "platform/notification_icon.h"

#include <cstdio>
#include <deque>
#include <mutex>

namespace tallow::platform {

Result<void> check_rgba_pixels(const RgbaPixels& pixels) {
  if (pixels.width == 0 || pixels.height == 0) {
    return Error{"an icon needs at least one pixel, not " + std::to_string(pixels.width) + "\u00D7" +
                 std::to_string(pixels.height)};
  }
  // 64-bit arithmetic: two 32-bit sides times 4 cannot overflow it.
  const std::uint64_t expected = std::uint64_t{pixels.width} * pixels.height * 4;
  if (pixels.bytes.size() != expected) {
    return Error{std::to_string(pixels.width) + "\u00D7" + std::to_string(pixels.height) +
                 " RGBA pixels take " + std::to_string(expected) + " bytes, not " +
                 std::to_string(pixels.bytes.size())};
  }
  return {};
}

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
  if (waited < timing_.give_up_after) return true;
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

namespace {

struct PickedCommands {
  std::mutex mutex;
  std::deque<std::string> commands;
};

PickedCommands& picked_commands() {
  static PickedCommands queue;
  return queue;
}

}  // namespace

void queue_picked_command(std::string command) {
  PickedCommands& queue = picked_commands();
  const std::lock_guard lock(queue.mutex);
  queue.commands.push_back(std::move(command));
}

std::vector<std::string> take_picked_commands() {
  PickedCommands& queue = picked_commands();
  std::deque<std::string> taken;
  {
    const std::lock_guard lock(queue.mutex);
    // Asked on every pass of the loop; nearly always nothing is there.
    if (queue.commands.empty()) return {};
    taken.swap(queue.commands);
  }
  return {std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end())};
}

}  // namespace tallow::platform
