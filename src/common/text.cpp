#include "common/text.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace tallow {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `pos` and advances past it. An invalid sequence yields none
// and advances past its maximal valid prefix (at least one byte): the part the Unicode
// standard recommends replacing with one U+FFFD.
std::optional<char32_t> decode_utf8(std::string_view s, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
  const std::uint8_t lead = byte(pos++);
  if (lead < 0x80) return lead;
  int length = 0;
  char32_t code = 0;
  std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;        // no overlong forms
    if (lead == 0xED) high = 0x9F;       // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;        // no overlong forms
    if (lead == 0xF4) high = 0x8F;       // nothing above U+10FFFF
  } else {
    return std::nullopt;
  }
  for (int k = 1; k < length; ++k, ++pos) {
    const std::uint8_t lo = k == 1 ? low : 0x80;
    const std::uint8_t hi = k == 1 ? high : 0xBF;
    if (pos >= s.size() || byte(pos) < lo || byte(pos) > hi) return std::nullopt;
    code = (code << 6) | (byte(pos) & 0x3F);
  }
  return code;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Length in bytes of the white-space character starting at `pos`, or 0.
std::size_t white_space_at(std::string_view text, std::size_t pos) {
  std::size_t end = pos;
  const std::optional<char32_t> c = decode_utf8(text, end);
  return c && is_white_space(*c) ? end - pos : 0;
}

// Length in bytes of the white-space character ending at `end`, or 0.
std::size_t white_space_before(std::string_view text, std::size_t end) {
  // A white-space character is one to three bytes long in UTF-8.
  for (std::size_t length = 1; length <= 3 && length <= end; ++length) {
    if (white_space_at(text, end - length) == length) return length;
  }
  return 0;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view lower_prefix) {
  if (text.size() < lower_prefix.size()) return false;
  return std::equal(lower_prefix.begin(), lower_prefix.end(), text.begin(), [](char p, char c) {
    return p == ((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
  });
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t c = decode_utf8(text, pos).value_or(kReplacement);
    if (c < 0x10000) {
      out += static_cast<char16_t>(c);
    } else {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      append_utf8(out, kReplacement);
    } else {
      append_utf8(out, unit);
    }
  }
  return out;
}

std::string sanitize_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  for (std::size_t pos = 0; pos < bytes.size();) {
    append_utf8(out, decode_utf8(bytes, pos).value_or(kReplacement));
  }
  return out;
}

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    if (!decode_utf8(bytes, pos)) return false;
  }
  return true;
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

std::string_view trim_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t n = white_space_at(text, begin);
    if (n == 0) break;
    begin += n;
  }
  std::size_t end = text.size();
  while (end > begin) {
    const std::size_t n = white_space_before(text, end);
    if (n == 0) break;
    end -= n;
  }
  return text.substr(begin, end - begin);
}

std::vector<std::string_view> split_white_space(std::string_view text) {
  std::vector<std::string_view> tokens;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (const std::size_t n = white_space_at(text, pos)) {
      pos += n;
      continue;
    }
    // A token runs to the next white space or the end.
    const std::size_t begin = pos;
    while (pos < text.size() && white_space_at(text, pos) == 0) decode_utf8(text, pos);
    tokens.push_back(text.substr(begin, pos - begin));
  }
  return tokens;
}

bool is_web_url(std::string_view url) {
  if (!starts_with_ignoring_case(url, "http://") && !starts_with_ignoring_case(url, "https://")) {
    return false;
  }
  return std::none_of(url.begin(), url.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F || c == '"';
  });
}

}  // namespace tallow
