// The parts of the notification icon that every platform shares: the pixel check and the
// add-retry rule.

#include "platform/notification_icon.h"

#include <cstdio>

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

Result<void> check_icon_picture(const IconPicture& picture) {
  if (picture.images.empty()) return Error{"an icon needs at least one image"};
  for (const IconImage& image : picture.images) {
    if (auto checked = check_rgba_pixels({image.width, image.height, image.rgba}); !checked) return checked;
  }
  return {};
}

}  // namespace tallow::platform
