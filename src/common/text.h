#pragma once
// UTF-8 and UTF-16 conversion, and the Unicode White_Space set used by every trim and split.

#include <string>
#include <string_view>
#include <vector>

namespace tallow {

// Converts UTF-8 to UTF-16; each invalid byte sequence becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

// Converts UTF-16 to UTF-8; each unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

// Returns the text with each invalid UTF-8 sequence replaced by U+FFFD.
std::string sanitize_utf8(std::string_view bytes);

bool is_valid_utf8(std::string_view bytes);

// True for the characters with the Unicode White_Space property.
bool is_white_space(char32_t c);

// The text without leading and trailing white space.
std::string_view trim_white_space(std::string_view text);

// The non-empty runs of text between white space.
std::vector<std::string_view> split_white_space(std::string_view text);

// True when the shell may be handed `url` as a web page: it begins with "http://" or
// "https://" (in any letter case) and holds no control character, space or double
// quote, any of which could end or split the argument the browser is started with.
bool is_web_url(std::string_view url);

}  // namespace tallow
