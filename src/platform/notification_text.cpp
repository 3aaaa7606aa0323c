#include "platform/notification_text.h"

#include "common/text.h"

namespace tallow::platform {

std::u16string tooltip_text(std::string_view text, std::size_t max_units) {
  std::u16string wide = utf8_to_utf16(text);
  if (wide.size() <= max_units) return wide;
  std::size_t cut = max_units;
  // The conversion only makes whole pairs, so a high half at the cut has its low half after it.
  if (cut > 0 && wide[cut - 1] >= 0xD800 && wide[cut - 1] <= 0xDBFF) --cut;
  wide.resize(cut);
  return wide;
}

std::u16string menu_label_text(std::string_view text) {
  const std::u16string wide = utf8_to_utf16(text);
  std::u16string label;
  label.reserve(wide.size());
  for (const char16_t c : wide) {
    if (c == u'&') label += u'&';
    label += c;
  }
  return label;
}

}  // namespace tallow::platform

namespace tallow::platform {

std::string underscore_label_text(std::string_view text) {
  std::string label;
  label.reserve(text.size());
  for (const char c : text) {
    if (c == '_') label += '_';
    label += c;
  }
  return label;
}

}  // namespace tallow::platform
