// UTF-8/UTF-16 conversion with replacement of ill-formed input, and the white-space
// set behind every trim and split in the program.

#include "common/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tallow {
namespace {

const std::string kReplacementUtf8 = "\xEF\xBF\xBD";

// Built from code units so that lone surrogates can be written down.
std::u16string units(std::initializer_list<std::uint16_t> list) {
  std::u16string out;
  for (const auto unit : list) out += static_cast<char16_t>(unit);
  return out;
}


std::string repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

// ---------------------------------------------------------------------------
// Well-formed UTF-8, including every encoding-length boundary.

struct WellFormedCase {
  const char* name;
  std::string utf8;
  std::u16string utf16;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const WellFormedCase& c, std::ostream* out) { *out << c.name; }

class WellFormedText : public ::testing::TestWithParam<WellFormedCase> {};

TEST_P(WellFormedText, ConvertsBothWaysUnchanged) {
  const auto& c = GetParam();
  EXPECT_TRUE(is_valid_utf8(c.utf8));
  EXPECT_EQ(utf8_to_utf16(c.utf8), c.utf16);
  EXPECT_EQ(utf16_to_utf8(c.utf16), c.utf8);
  EXPECT_EQ(sanitize_utf8(c.utf8), c.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Text, WellFormedText,
    ::testing::Values(
        WellFormedCase{"empty", "", u""},
        WellFormedCase{"ascii", "tallowmered", u"tallowmered"},
        WellFormedCase{"embedded_nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        WellFormedCase{"last_one_byte", "\x7F", units({0x7F})},
        WellFormedCase{"first_two_byte", "\xC2\x80", units({0x80})},
        WellFormedCase{"last_two_byte", "\xDF\xBF", units({0x7FF})},
        WellFormedCase{"first_three_byte", "\xE0\xA0\x80", units({0x800})},
        WellFormedCase{"before_surrogates", "\xED\x9F\xBF", units({0xD7FF})},
        WellFormedCase{"after_surrogates", "\xEE\x80\x80", units({0xE000})},
        WellFormedCase{"ellipsis", "Starting\xE2\x80\xA6", u"Starting\u2026"},
        WellFormedCase{"replacement_character_itself", "\xEF\xBF\xBD", units({0xFFFD})},
        WellFormedCase{"last_bmp", "\xEF\xBF\xBF", units({0xFFFF})},
        WellFormedCase{"first_supplementary", "\xF0\x90\x80\x80", units({0xD800, 0xDC00})},
        WellFormedCase{"emoji", "\xF0\x9F\x98\x80", units({0xD83D, 0xDE00})},
        WellFormedCase{"last_scalar", "\xF4\x8F\xBF\xBF", units({0xDBFF, 0xDFFF})},
        WellFormedCase{"mixed", "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80!",
                       units({'h', 0xE9, 0x20AC, 0xD83D, 0xDE00, '!'})}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Ill-formed UTF-8: each maximal subpart of an ill-formed sequence becomes one U+FFFD,
// and decoding resumes at the first byte that cannot continue it.

struct IllFormedCase {
  const char* name;
  std::string bytes;
  std::u16string utf16;
};

void PrintTo(const IllFormedCase& c, std::ostream* out) { *out << c.name; }

class IllFormedUtf8 : public ::testing::TestWithParam<IllFormedCase> {};

TEST_P(IllFormedUtf8, EachMaximalSubpartBecomesOneReplacement) {
  const auto& c = GetParam();
  EXPECT_FALSE(is_valid_utf8(c.bytes));
  EXPECT_EQ(utf8_to_utf16(c.bytes), c.utf16);
  const std::string sanitized = sanitize_utf8(c.bytes);
  EXPECT_EQ(sanitized, utf16_to_utf8(c.utf16));
  EXPECT_TRUE(is_valid_utf8(sanitized));
}

const std::uint16_t R = 0xFFFD;

INSTANTIATE_TEST_SUITE_P(
    Text, IllFormedUtf8,
    ::testing::Values(
        // Overlong forms: the lead byte cannot start them, so every byte stands alone.
        IllFormedCase{"overlong_nul_two_bytes", "\xC0\x80", units({R, R})},
        IllFormedCase{"overlong_two_bytes_c1", "\xC1\xBF", units({R, R})},
        IllFormedCase{"overlong_three_bytes", "\xE0\x80\xAF", units({R, R, R})},
        IllFormedCase{"overlong_three_bytes_top", "\xE0\x9F\xBF", units({R, R, R})},
        IllFormedCase{"overlong_four_bytes", "\xF0\x8F\xBF\xBF", units({R, R, R, R})},
        IllFormedCase{"overlong_space_between_letters", "a\xC0\xA0z", units({'a', R, R, 'z'})},
        // Surrogates encoded in UTF-8 (CESU-8 style) are not scalar values.
        IllFormedCase{"high_surrogate", "\xED\xA0\x80", units({R, R, R})},
        IllFormedCase{"low_surrogate", "\xED\xBF\xBF", units({R, R, R})},
        IllFormedCase{"surrogate_pair_cesu", "\xED\xA0\xBD\xED\xB8\x80", units({R, R, R, R, R, R})},
        // Truncated sequences: the valid prefix is one subpart.
        IllFormedCase{"truncated_two_at_end", "\xC3", units({R})},
        IllFormedCase{"truncated_three_at_end", "\xE2\x82", units({R})},
        IllFormedCase{"truncated_four_at_end", "\xF0\x9F\x98", units({R})},
        IllFormedCase{"truncated_three_before_ascii", "\xE2\x82x", units({R, 'x'})},
        IllFormedCase{"truncated_four_before_lead", "\xF0\x9F\xC3\xA9", units({R, 0xE9})},
        IllFormedCase{"truncated_three_in_the_middle", "a\xE2\x82" "b", units({'a', R, 'b'})},
        // Continuation bytes with nothing to continue.
        IllFormedCase{"stray_continuation", "\x80", units({R})},
        IllFormedCase{"two_stray_continuations", "\xBF\x80", units({R, R})},
        IllFormedCase{"extra_continuation", "\xC3\xA9\xA9", units({0xE9, R})},
        // Above U+10FFFF, and bytes that never occur in UTF-8.
        IllFormedCase{"above_max_f4", "\xF4\x90\x80\x80", units({R, R, R, R})},
        IllFormedCase{"above_max_f5", "\xF5\x80\x80\x80", units({R, R, R, R})},
        IllFormedCase{"five_byte_form", "\xF8\x88\x80\x80\x80", units({R, R, R, R, R})},
        IllFormedCase{"byte_fe", "\xFE", units({R})},
        IllFormedCase{"byte_ff", "\xFF", units({R})},
        // The worked examples of the Unicode standard (U+FFFD substitution of maximal subparts).
        IllFormedCase{"unicode_example_mixed", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
                      units({'a', R, R, R, 'b', R, 'c', R, R, 'd'})},
        IllFormedCase{"unicode_example_overlongs", "\xC0\xAF\xE0\x80\xBF\xF0\x81\x82\x41",
                      units({R, R, R, R, R, R, R, R, 'A'})},
        IllFormedCase{"unicode_example_surrogates", "\xED\xA0\x80\xED\xBF\xBF\xED\xAF\x41",
                      units({R, R, R, R, R, R, R, R, 'A'})},
        IllFormedCase{"unicode_example_out_of_range", "\xF4\x91\x92\x93\xFF\x41\x80\xBF\x42",
                      units({R, R, R, R, R, 'A', R, R, 'B'})},
        IllFormedCase{"unicode_example_truncations", "\xE1\x80\xE2\xF0\x91\x92\xF1\xBF\x41",
                      units({R, R, R, R, 'A'})}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// UTF-16 from the system: unpaired surrogates become U+FFFD, pairs stay characters.

struct Utf16Case {
  const char* name;
  std::u16string utf16;
  std::string utf8;
};

void PrintTo(const Utf16Case& c, std::ostream* out) { *out << c.name; }

class Utf16ToUtf8 : public ::testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16ToUtf8, ReplacesEachUnpairedSurrogate) {
  const auto& c = GetParam();
  const std::string utf8 = utf16_to_utf8(c.utf16);
  EXPECT_EQ(utf8, c.utf8);
  EXPECT_TRUE(is_valid_utf8(utf8));
}

INSTANTIATE_TEST_SUITE_P(
    Text, Utf16ToUtf8,
    ::testing::Values(
        Utf16Case{"lone_high", units({0xD800}), kReplacementUtf8},
        Utf16Case{"lone_low", units({0xDC00}), kReplacementUtf8},
        Utf16Case{"high_at_end", units({'a', 0xDBFF}), "a" + kReplacementUtf8},
        Utf16Case{"low_between_letters", units({'a', 0xDFFF, 'b'}), "a" + kReplacementUtf8 + "b"},
        Utf16Case{"reversed_pair", units({0xDC00, 0xD800}), kReplacementUtf8 + kReplacementUtf8},
        Utf16Case{"high_then_letter", units({0xD83D, 'x'}), kReplacementUtf8 + "x"},
        Utf16Case{"two_highs_then_low", units({0xD800, 0xD800, 0xDC00}),
                  kReplacementUtf8 + "\xF0\x90\x80\x80"},
        Utf16Case{"pair_then_lone_low", units({0xD83D, 0xDE00, 0xDE00}),
                  "\xF0\x9F\x98\x80" + kReplacementUtf8},
        Utf16Case{"neighbours_of_surrogates", units({0xD7FF, 0xE000}), "\xED\x9F\xBF\xEE\x80\x80"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextConversion, LongTextRoundTripsThroughUtf16) {
  // Long enough that any fixed-size buffer in the conversion would show.
  const std::string text = repeat("p\xC3\xA9\xE2\x80\xA6\xF0\x9F\x98\x80", 20000);
  const std::u16string wide = utf8_to_utf16(text);
  EXPECT_EQ(wide.size(), 20000u * 5u);
  EXPECT_EQ(utf16_to_utf8(wide), text);
}

// ---------------------------------------------------------------------------
// White space: exactly the Unicode White_Space set.

const std::vector<char32_t> kWhiteSpace = {
    0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

// Characters that look or behave like spaces elsewhere but lack the property.
const std::vector<char32_t> kNotWhiteSpace = {
    0x00,   0x08,   0x0E,   0x1C, 0x1D, 0x1E, 0x1F,  // C0 separators some libraries call space
    0x21,   0x84,   0x86,   0x9F, 0xA1, 0xAD,
    0x180E,                                          // MONGOLIAN VOWEL SEPARATOR (no longer space)
    0x200B,                                          // ZERO WIDTH SPACE
    0x200C, 0x200D, 0x2027, 0x202A, 0x205E, 0x2060,
    0x2FFF, 0x3001, 0x303F, 0xFEFF,                  // BYTE ORDER MARK
    0x1F600};

class WhiteSpaceCharacter : public ::testing::TestWithParam<char32_t> {};
class NotWhiteSpaceCharacter : public ::testing::TestWithParam<char32_t> {};

TEST_P(WhiteSpaceCharacter, IsTrimmedAndSplits) {
  const char32_t c = GetParam();
  const std::string ws = test::encode_utf8(c);
  EXPECT_TRUE(is_white_space(c));
  EXPECT_EQ(trim_white_space(ws + "x" + ws + ws), "x");
  EXPECT_EQ(trim_white_space(ws), "");
  EXPECT_EQ(trim_white_space("a" + ws + "b"), "a" + ws + "b");
  EXPECT_EQ(split_white_space(ws + "a" + ws + ws + "b" + ws),
            (std::vector<std::string_view>{"a", "b"}));
}

TEST_P(NotWhiteSpaceCharacter, IsKeptAndDoesNotSplit) {
  const char32_t c = GetParam();
  const std::string other = test::encode_utf8(c);
  EXPECT_FALSE(is_white_space(c));
  const std::string text = other + "x" + other;
  EXPECT_EQ(trim_white_space(text), text);
  const std::string joined = "a" + other + "b";
  EXPECT_EQ(split_white_space(joined), (std::vector<std::string_view>{joined}));
}

std::string code_point_name(const ::testing::TestParamInfo<char32_t>& info) {
  char name[16];
  std::snprintf(name, sizeof name, "U%04X", static_cast<unsigned>(info.param));
  return name;
}

INSTANTIATE_TEST_SUITE_P(Text, WhiteSpaceCharacter, ::testing::ValuesIn(kWhiteSpace), code_point_name);
INSTANTIATE_TEST_SUITE_P(Text, NotWhiteSpaceCharacter, ::testing::ValuesIn(kNotWhiteSpace),
                         code_point_name);

TEST(WhiteSpace, SurrogatesAndOutOfRangeValuesAreNotWhiteSpace) {
  for (const char32_t c : {char32_t(0xD800), char32_t(0xDFFF), char32_t(0x110000), char32_t(0xFFFFFFFF)}) {
    EXPECT_FALSE(is_white_space(c)) << static_cast<std::uint32_t>(c);
  }
}

struct TrimCase {
  const char* name;
  std::string text;
  std::string trimmed;
};

void PrintTo(const TrimCase& c, std::ostream* out) { *out << c.name; }

class TrimWhiteSpace : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimWhiteSpace, RemovesOnlyLeadingAndTrailingWhiteSpace) {
  const auto& c = GetParam();
  const std::string_view trimmed = trim_white_space(c.text);
  EXPECT_EQ(trimmed, c.trimmed);
  // The result is a view into the argument, not a copy.
  if (!trimmed.empty()) {
    EXPECT_GE(trimmed.data(), c.text.data());
    EXPECT_LE(trimmed.data() + trimmed.size(), c.text.data() + c.text.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Text, TrimWhiteSpace,
    ::testing::Values(
        TrimCase{"empty", "", ""},
        TrimCase{"only_white_space", " \t\r\n\v\f\xC2\xA0\xE3\x80\x80", ""},
        TrimCase{"nothing_to_trim", "abc", "abc"},
        TrimCase{"inner_white_space_stays", "  a \xE2\x80\x83 b  ", "a \xE2\x80\x83 b"},
        TrimCase{"mixed_ends", "\xE2\x80\xA8\xC2\x85 x\xE2\x81\x9F\r\n", "x"},
        TrimCase{"crlf", "A=b\r\n", "A=b"},
        TrimCase{"embedded_nul_is_not_space", std::string("\0a\0", 3), std::string("\0a\0", 3)},
        // Bytes that are white space only in Latin-1 or as parts of other characters.
        TrimCase{"lone_0x85_byte", "\x85" "a\x85", "\x85" "a\x85"},
        TrimCase{"lone_0xa0_byte", "\xA0" "a\xA0", "\xA0" "a\xA0"},
        TrimCase{"overlong_space", "\xC0\xA0" "a\xC0\xA0", "\xC0\xA0" "a\xC0\xA0"},
        TrimCase{"overlong_three_byte_space", "\xE0\x80\xA0" "a", "\xE0\x80\xA0" "a"},
        TrimCase{"ideographic_space_truncated", "a\xE3\x80", "a\xE3\x80"},
        TrimCase{"invalid_bytes_kept_spaces_trimmed", " \xFF a \xFE ", "\xFF a \xFE"},
        TrimCase{"truncated_sequence_before_space", "\xE2\x80 ", "\xE2\x80"},
        TrimCase{"nbsp_after_truncated_lead", "x\xE2\xC2\xA0", "x\xE2"},
        TrimCase{"character_ending_in_space_like_bytes", "\xE2\x80\xA0", "\xE2\x80\xA0"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SplitCase {
  const char* name;
  std::string text;
  std::vector<std::string> tokens;
};

void PrintTo(const SplitCase& c, std::ostream* out) { *out << c.name; }

class SplitWhiteSpace : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitWhiteSpace, YieldsTheNonEmptyRunsInOrder) {
  const auto& c = GetParam();
  const auto tokens = split_white_space(c.text);
  EXPECT_EQ(std::vector<std::string>(tokens.begin(), tokens.end()), c.tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Text, SplitWhiteSpace,
    ::testing::Values(
        SplitCase{"empty", "", {}},
        SplitCase{"white_space_only", " \t\xE2\x80\x8A\n ", {}},
        SplitCase{"one_token", "code", {"code"}},
        SplitCase{"surrounding_and_runs", "  a \t\r\n b   c ", {"a", "b", "c"}},
        SplitCase{"unicode_separators", "a\xC2\xA0" "b\xE3\x80\x80\xE3\x80\x80" "c\xE1\x9A\x80" "d",
                  {"a", "b", "c", "d"}},
        SplitCase{"quotes_are_ordinary", "\"a b\"", {"\"a", "b\""}},
        SplitCase{"zero_width_space_joins", "a\xE2\x80\x8B" "b", {"a\xE2\x80\x8B" "b"}},
        SplitCase{"byte_order_mark_joins", "\xEF\xBB\xBF" "a b", {"\xEF\xBB\xBF" "a", "b"}},
        SplitCase{"invalid_bytes_stay_in_tokens", "a\xFF b\xC0\xA0" "c", {"a\xFF", "b\xC0\xA0" "c"}},
        SplitCase{"truncated_lead_then_space", "\xE2 x", {"\xE2", "x"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
TEST(WebUrl, OnlyHttpAndHttpsReachTheShell) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"https://hub.example.com/ui", true}, {"http://10.0.0.1:8080/", true}, {"HTTPS://Hub/", true},
      {"hTtP://h", true}, {"https://h/a?b=c&d=%20#e", true}, {"https://h\xC3\xA9.example/", true},
      {"", false}, {"https", false}, {"https:/h", false}, {"https:h", false}, {"httpx://h", false},
      {"ftp://h/", false}, {"file:///C:/Windows/System32/calc.exe", false}, {"FILE://server/share/x.exe", false},
      {"C:\\Windows\\System32\\calc.exe", false}, {"\\\\server\\share\\x.exe", false},
      {"//server/share", false}, {"calc.exe", false}, {"javascript:alert(1)", false}, {"ms-settings:", false},
      {" https://h/", false}, {"https:\\\\h", false}, {"https://h/ x", false}, {"https://h/\"--x", false},
      {"https://h/\tx", false}, {"https://h/\nx", false}, {"https://h/\x7F", false},
      {std::string("https://h/\0x", 11), false}, {"https\xEF\xBC\x9A//h", false},
  };
  for (const auto& [url, web] : cases) EXPECT_EQ(is_web_url(url), web) << url;
}

}  // namespace tallow
