#pragma once
// Moving text between the project's UTF-8/UTF-16 strings and the API's wchar_t.

#include <string>
#include <string_view>

#include "common/text.h"

namespace tallow::platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

// Copies rather than casts: wchar_t and char16_t are distinct types to the compiler.
inline std::wstring to_wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

inline std::u16string to_u16(std::wstring_view text) {
  return std::u16string(text.begin(), text.end());
}

inline std::wstring wide_from_utf8(std::string_view text) {
  return to_wide(utf8_to_utf16(text));
}

// UTF-8 of wide text, each unpaired surrogate replaced by U+FFFD.
inline std::string utf8_from_wide(std::wstring_view text) {
  return utf16_to_utf8(to_u16(text));
}

// True when the text has a surrogate without its partner, i.e. is not valid Unicode.
inline bool has_unpaired_surrogate(std::wstring_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      return true;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return true;
  }
  return false;
}

}  // namespace tallow::platform::win32
