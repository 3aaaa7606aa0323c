#include "dialog/dialog_result.h"

#include <algorithm>
#include <utility>

#include "common/text.h"

namespace tallow {

void DialogResultSlot::accept(std::string text) {
  state_ = State::accepted;
  text_ = std::move(text);
}

void DialogResultSlot::cancel() {
  state_ = State::cancelled;
  text_.clear();
}

std::optional<std::string> DialogResultSlot::take() {
  std::optional<std::string> result;
  if (state_ == State::accepted) result = std::move(text_);
  reset();
  return result;
}

std::string field_text(std::u16string_view buffer, std::int64_t reported) {
  const auto units =
      std::clamp<std::int64_t>(reported, 0, static_cast<std::int64_t>(buffer.size()));
  return utf16_to_utf8(buffer.substr(0, static_cast<std::size_t>(units)));
}

}  // namespace tallow
