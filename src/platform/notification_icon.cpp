// The parts of the notification icon that every platform shares: the pixel check and
// the queue of picked commands.

#include "platform/notification_icon.h"

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
