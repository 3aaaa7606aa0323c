#include "dialog/dialog_result.h"

#include <algorithm>

#include "common/text.h"

namespace tallow {

std::string field_text(std::u16string_view buffer, std::int64_t reported) {
  const auto units =
      std::clamp<std::int64_t>(reported, 0, static_cast<std::int64_t>(buffer.size()));
  return utf16_to_utf8(buffer.substr(0, static_cast<std::size_t>(units)));
}

}  // namespace tallow
