// The env file in the state directory: extra environment settings for the agent,
// written by the user or an installer, so every sloppy form must parse predictably.

#include "agent/state_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tallow {

// Shared word for word by every test file that prints these values.
inline void PrintTo(const EnvEntry& entry, std::ostream* out) {
  *out << "{\"" << entry.key << "\" = \"" << entry.value << "\"}";
}

namespace {

namespace fs = std::filesystem;

using Entries = std::vector<EnvEntry>;

struct EnvCase {
  const char* name;
  std::string text;
  Entries entries;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const EnvCase& c, std::ostream* out) { *out << c.name; }

class EnvFileText : public ::testing::TestWithParam<EnvCase> {};

TEST_P(EnvFileText, GivesTheseEntriesInFileOrder) {
  const auto& c = GetParam();
  EXPECT_EQ(parse_env_file(c.text), c.entries);
  // Read from a real file, the same text (always valid UTF-8 here) gives the same entries.
  test::TempDir dir("env");
  test::write_file(dir / "env", c.text);
  EXPECT_EQ(read_env_file(dir.path()), c.entries);
}

INSTANTIATE_TEST_SUITE_P(
    EnvFile, EnvFileText,
    ::testing::Values(
        EnvCase{"simple", "TALLOWMERE_LISTEN=127.0.0.1:9000\n", {{"TALLOWMERE_LISTEN", "127.0.0.1:9000"}}},
        EnvCase{"no_final_newline", "A=1\nB=2", {{"A", "1"}, {"B", "2"}}},
        EnvCase{"empty_text", "", {}},
        EnvCase{"only_newlines", "\n\n\r\n", {}},
        EnvCase{"export_with_double_quotes", "export A=\"b c\"\n", {{"A", "b c"}}},
        EnvCase{"export_with_single_quotes", "export A='b c'\n", {{"A", "b c"}}},
        EnvCase{"spaces_around_equals_kept", "A = b\n", {{"A ", " b"}}},
        EnvCase{"empty_value", "A=\n", {{"A", ""}}},
        EnvCase{"empty_key", "=b\n", {{"", "b"}}},
        EnvCase{"equals_only", "=\n", {{"", ""}}},
        EnvCase{"first_equals_splits", "A=b=c==\n", {{"A", "b=c=="}}},
        EnvCase{"unclosed_single_quote_kept", "A='b\n", {{"A", "'b"}}},
        EnvCase{"unclosed_double_quote_kept", "A=\"b\n", {{"A", "\"b"}}},
        EnvCase{"lone_quote_kept", "A=\"\n", {{"A", "\""}}},
        EnvCase{"empty_quotes", "A=\"\"\nB=''\n", {{"A", ""}, {"B", ""}}},
        EnvCase{"mismatched_quotes_kept", "A=\"b'\nB='b\"\n", {{"A", "\"b'"}, {"B", "'b\""}}},
        EnvCase{"inner_quotes_no_escapes", "A=\"say \\\"hi\\\"\"\n", {{"A", "say \\\"hi\\\""}}},
        EnvCase{"quotes_inside_unquoted_value", "A=b\"c\"\n", {{"A", "b\"c\""}}},
        EnvCase{"quoted_white_space_kept", "A=\"  b  \"   \n", {{"A", "  b  "}}},
        EnvCase{"only_outer_quote_pair_removed", "A=\"'b'\"\n", {{"A", "'b'"}}},
        EnvCase{"comment_lines", "# a comment\nA=1\n#B=2\n", {{"A", "1"}}},
        EnvCase{"indented_comment", "   # B=2\n\t#C=3\nA=1\n", {{"A", "1"}}},
        EnvCase{"hash_inside_value_kept", "A=b # not a comment\n", {{"A", "b # not a comment"}}},
        EnvCase{"line_without_equals_skipped", "JUST_A_WORD\nA=1\nexport B\n", {{"A", "1"}}},
        EnvCase{"blank_lines_between", "\nA=1\n\n   \n\t\nB=2\n", {{"A", "1"}, {"B", "2"}}},
        EnvCase{"crlf_like_lf", "A=1\r\nexport B=\"x y\"\r\n# c\r\nC=\r\n", {{"A", "1"}, {"B", "x y"}, {"C", ""}}},
        EnvCase{"crlf_before_closing_quote_check", "A='b'\r\n", {{"A", "b"}}},
        EnvCase{"surrounding_white_space_trimmed", "  \tA=b \t\n", {{"A", "b"}}},
        EnvCase{"unicode_white_space_trimmed", "\xC2\xA0\xE3\x80\x80" "A=b\xE2\x80\x83\xC2\x85\n", {{"A", "b"}}},
        EnvCase{"zero_width_space_not_trimmed", "\xE2\x80\x8B" "A=b\n", {{"\xE2\x80\x8B" "A", "b"}}},
        EnvCase{"export_removed_once", "export export A=1\n", {{"export A", "1"}}},
        EnvCase{"export_keeps_following_space", "export  A=1\n", {{" A", "1"}}},
        EnvCase{"export_after_indentation", "   export A=1\n", {{"A", "1"}}},
        EnvCase{"export_needs_space", "exportA=1\n", {{"exportA", "1"}}},
        EnvCase{"export_with_tab_is_key", "export\tA=1\n", {{"export\tA", "1"}}},
        EnvCase{"export_is_lower_case_only", "EXPORT A=1\n", {{"EXPORT A", "1"}}},
        EnvCase{"export_as_key", "export=1\n", {{"export", "1"}}},
        EnvCase{"export_then_empty_key", "export =1\n", {{"", "1"}}},
        EnvCase{"export_alone", "export \n", {}},
        EnvCase{"duplicate_keys_all_kept", "A=1\nA=2\n", {{"A", "1"}, {"A", "2"}}},
        EnvCase{"keys_differing_in_case", "a=1\nA=2\n", {{"a", "1"}, {"A", "2"}}},
        EnvCase{"non_ascii", "N\xC3\x84ME=v\xC3\xA4l\xE2\x80\xA6\n", {{"N\xC3\x84ME", "v\xC3\xA4l\xE2\x80\xA6"}}},
        EnvCase{"lone_carriage_return_mid_line_kept", "A=b\rc\n", {{"A", "b\rc"}}},
        EnvCase{"nul_in_value_kept", std::string("A=b\0c\n", 6), {{"A", std::string("b\0c", 3)}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EnvFile, LookupTakesTheLastEntryOfTheExactKey) {
  const Entries entries = parse_env_file("A=1\nB=x\nA=2\n");
  ASSERT_EQ(entries, (Entries{{"A", "1"}, {"B", "x"}, {"A", "2"}}));
  EXPECT_EQ(env_file_value(entries, "A"), "2");
  EXPECT_EQ(env_file_value(entries, "B"), "x");
  EXPECT_EQ(env_file_value(entries, "a"), std::nullopt);
  EXPECT_EQ(env_file_value(entries, "A "), std::nullopt);
  EXPECT_EQ(env_file_value(entries, ""), std::nullopt);
  EXPECT_EQ(env_file_value({}, "A"), std::nullopt);
}

TEST(EnvFile, LookupDistinguishesEmptyValueFromAbsent) {
  const Entries entries = parse_env_file("TALLOWMERE_LISTEN=\n=orphan\n");
  EXPECT_EQ(env_file_value(entries, "TALLOWMERE_LISTEN"), "");
  EXPECT_EQ(env_file_value(entries, ""), "orphan");
  // A later empty value overrides an earlier one too.
  EXPECT_EQ(env_file_value(parse_env_file("A=1\nA=\n"), "A"), "");
}

// ---------------------------------------------------------------------------
// The file itself.

TEST(EnvFile, MissingFileGivesNoEntries) {
  test::TempDir dir("env-missing");
  EXPECT_TRUE(read_env_file(dir.path()).empty());
  EXPECT_TRUE(read_env_file(dir / "absent").empty());
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(EnvFile, DirectoryInPlaceOfFileGivesNoEntries) {
  test::TempDir dir("env-dir");
  fs::create_directory(dir / "env");
  EXPECT_TRUE(read_env_file(dir.path()).empty());
}

struct NotUtf8Case {
  const char* name;
  std::string text;
};

void PrintTo(const NotUtf8Case& c, std::ostream* out) { *out << c.name; }

class EnvFileNotUtf8 : public ::testing::TestWithParam<NotUtf8Case> {};

// A file in a legacy code page is not trusted line by line: it gives nothing at all.
TEST_P(EnvFileNotUtf8, GivesNoEntriesEvenForItsValidLines) {
  test::TempDir dir("env-latin1");
  test::write_file(dir / "env", GetParam().text);
  EXPECT_TRUE(read_env_file(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    EnvFile, EnvFileNotUtf8,
    ::testing::Values(NotUtf8Case{"latin1_value", "A=1\nNAME=caf\xE9\nB=2\n"},
                      NotUtf8Case{"utf16_with_bom", std::string("\xFF\xFE" "A\0=\0" "1\0\n\0", 10)},
                      NotUtf8Case{"encoded_surrogate", "A=\xED\xA0\x80\n"},
                      NotUtf8Case{"overlong", "A=\xC0\xAF\n"},
                      NotUtf8Case{"truncated_at_end", "A=1\nB=\xE2\x82"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EnvFile, FileAboveSizeCapGivesNoEntries) {
  test::TempDir dir("env-cap");
  const std::string line = "A=1\n";
  std::string text = line + std::string(kMaxStateFileBytes - line.size(), '\n');
  test::write_file(dir / "env", text);
  EXPECT_EQ(read_env_file(dir.path()), (Entries{{"A", "1"}}));
  text += '\n';
  test::write_file(dir / "env", text);
  EXPECT_TRUE(read_env_file(dir.path()).empty());
}

TEST(EnvFile, EveryCallReadsTheFileAfresh) {
  test::TempDir dir("env-afresh");
  test::write_file(dir / "env", "A=1\n");
  EXPECT_EQ(read_env_file(dir.path()), (Entries{{"A", "1"}}));
  test::write_file(dir / "env", "A=2\nB=3\n");
  EXPECT_EQ(read_env_file(dir.path()), (Entries{{"A", "2"}, {"B", "3"}}));
  fs::remove(dir / "env");
  EXPECT_TRUE(read_env_file(dir.path()).empty());
}

}  // namespace
}  // namespace tallow
