// config.json and status.json as the agent leaves them in its state directory. The
// readers are exercised through real files: every failure must read as absent.

#include "agent/state_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "support/test_support.h"

namespace tallow {

// Shared word for word by every test file that prints these values.
inline void PrintTo(const StatusFileRecord& record, std::ostream* out) {
  *out << "{pid " << record.pid << ", connected "
       << (record.connected ? (*record.connected ? "true" : "false") : "absent") << "}";
}

namespace {

namespace fs = std::filesystem;

// A literal with its embedded NUL bytes, without counting them by hand.
template <std::size_t N>
std::string bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// A config.json with a hub URL, then a member nested `arrays` arrays deep below the
// top-level object.
std::string nested_after_hub(std::size_t arrays) {
  return R"({"hub":{"url":"u"},"extra":)" + std::string(arrays, '[') + std::string(arrays, ']') + "}";
}

// ---------------------------------------------------------------------------
// config.json → hub URL

struct HubUrlCase {
  const char* name;
  std::string content;
  std::optional<std::string> url;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const HubUrlCase& c, std::ostream* out) { *out << c.name; }

class HubUrlFile : public ::testing::TestWithParam<HubUrlCase> {};

TEST_P(HubUrlFile, ReadsHubUrlOrAbsent) {
  const auto& c = GetParam();
  test::TempDir dir("hub-url");
  test::write_file(dir / "config.json", c.content);
  EXPECT_EQ(read_hub_url(dir.path()), c.url);
  EXPECT_EQ(parse_hub_url(c.content), c.url);
}

INSTANTIATE_TEST_SUITE_P(
    StateFiles, HubUrlFile,
    ::testing::Values(
        HubUrlCase{"plain", R"({"hub":{"url":"https://hub.example.com"}})", "https://hub.example.com"},
        HubUrlCase{"empty_url_is_present", R"({"hub":{"url":""}})", ""},
        HubUrlCase{"taken_exactly_as_stored", R"({"hub":{"url":"  not a url\t"}})", "  not a url\t"},
        HubUrlCase{"escapes_decoded", R"({"hub":{"url":"https:\/\/h\u00e9\u2026"}})",
                   "https://h\xC3\xA9\xE2\x80\xA6"},
        HubUrlCase{"escaped_nul_kept", R"({"hub":{"url":"a\u0000b"}})", std::string("a\0b", 3)},
        HubUrlCase{"further_members_ignored",
                   R"({"version":3,"hub":{"name":"x","url":"https://h","ca":[1,2]},"agent":{"url":"no"}})",
                   "https://h"},
        HubUrlCase{"surrounding_json_white_space", " \r\n\t{\"hub\":{\"url\":\"u\"}}\n\n\r\n  \t\n", "u"},
        HubUrlCase{"trailing_blank_lines", "{\"hub\":{\"url\":\"u\"}}\n\n\n", "u"},
        HubUrlCase{"pretty_printed", "{\n  \"hub\": {\n    \"url\": \"u\"\n  }\n}\n", "u"},
        HubUrlCase{"hub_is_string", R"({"hub":"https://h"})", std::nullopt},
        HubUrlCase{"hub_is_array", R"({"hub":[{"url":"https://h"}]})", std::nullopt},
        HubUrlCase{"hub_is_null", R"({"hub":null})", std::nullopt},
        HubUrlCase{"url_is_number", R"({"hub":{"url":42}})", std::nullopt},
        HubUrlCase{"url_is_null", R"({"hub":{"url":null}})", std::nullopt},
        HubUrlCase{"url_is_object", R"({"hub":{"url":{"href":"https://h"}}})", std::nullopt},
        HubUrlCase{"url_at_top_level", R"({"url":"https://h"})", std::nullopt},
        HubUrlCase{"empty_object", "{}", std::nullopt},
        HubUrlCase{"empty_hub", R"({"hub":{}})", std::nullopt},
        HubUrlCase{"member_names_case_sensitive", R"({"Hub":{"URL":"https://h"}})", std::nullopt},
        HubUrlCase{"top_level_array", R"([{"hub":{"url":"https://h"}}])", std::nullopt},
        HubUrlCase{"top_level_string", R"("https://h")", std::nullopt},
        HubUrlCase{"two_objects", R"({"hub":{"url":"a"}}{"hub":{"url":"b"}})", std::nullopt},
        HubUrlCase{"two_objects_on_two_lines", "{\"hub\":{\"url\":\"a\"}}\n{\"hub\":{\"url\":\"b\"}}\n",
                   std::nullopt},
        HubUrlCase{"trailing_garbage", R"({"hub":{"url":"a"}} x)", std::nullopt},
        HubUrlCase{"trailing_comma_in_object", R"({"hub":{"url":"a",}})", std::nullopt},
        HubUrlCase{"comment_after_value", "{\"hub\":{\"url\":\"a\"}} // enrolled", std::nullopt},
        // Only JSON's four white-space characters may follow the value.
        HubUrlCase{"form_feed_after_value", "{\"hub\":{\"url\":\"a\"}}\f", std::nullopt},
        HubUrlCase{"nbsp_after_value", "{\"hub\":{\"url\":\"a\"}}\xC2\xA0", std::nullopt},
        HubUrlCase{"nul_after_value", bytes("{\"hub\":{\"url\":\"a\"}}\0"), std::nullopt},
        HubUrlCase{"nul_before_value", bytes("\0{\"hub\":{\"url\":\"a\"}}"), std::nullopt},
        HubUrlCase{"raw_newline_in_string", "{\"hub\":{\"url\":\"a\nb\"}}", std::nullopt},
        HubUrlCase{"invalid_utf8_in_string", "{\"hub\":{\"url\":\"https://h\xFF\"}}", std::nullopt},
        HubUrlCase{"lone_surrogate_escape", R"({"hub":{"url":"\ud800"}})", std::nullopt},
        HubUrlCase{"truncated_by_writer", R"({"hub":{"url":"https://h)", std::nullopt},
        HubUrlCase{"truncated_after_value", R"({"hub":{"url":"https://h"})", std::nullopt},
        HubUrlCase{"empty_file", "", std::nullopt},
        HubUrlCase{"white_space_only", " \n\t\r\n", std::nullopt},
        HubUrlCase{"single_quotes", "{'hub':{'url':'https://h'}}", std::nullopt},
        // The agent's strict reader refuses a byte-order mark; so must the tray.
        HubUrlCase{"byte_order_mark", "\xEF\xBB\xBF{\"hub\":{\"url\":\"x\"}}", std::nullopt},
        // A repeated member replaces the earlier one with everything below it.
        HubUrlCase{"repeated_hub_last_wins", R"({"hub":{"url":"a"},"hub":{"url":"b"}})", "b"},
        HubUrlCase{"repeated_hub_without_url", R"({"hub":{"url":"a"},"hub":{"connected":true}})",
                   std::nullopt},
        HubUrlCase{"repeated_url_not_a_string", R"({"hub":{"url":"a","url":5}})", std::nullopt},
        HubUrlCase{"repeated_url_inside_array", R"({"hub":{"url":"a","x":[{"url":"b"}]}})", "a"},
        HubUrlCase{"nested_64_levels", nested_after_hub(63), "u"},
        HubUrlCase{"nested_65_levels", nested_after_hub(64), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// status.json → pid and hub connection

struct StatusCase {
  const char* name;
  std::string content;
  std::optional<StatusFileRecord> record;
};

void PrintTo(const StatusCase& c, std::ostream* out) { *out << c.name; }

std::optional<StatusFileRecord> record(std::uint32_t pid, std::optional<bool> connected = std::nullopt) {
  return StatusFileRecord{pid, connected};
}

class StatusFile : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusFile, ReadsRecordOrAbsent) {
  const auto& c = GetParam();
  test::TempDir dir("status");
  test::write_file(dir / "status.json", c.content);
  EXPECT_EQ(read_status_file(dir.path()), c.record);
  EXPECT_EQ(parse_status_file(c.content), c.record);
}

INSTANTIATE_TEST_SUITE_P(
    StateFiles, StatusFile,
    ::testing::Values(
        StatusCase{"connected", R"({"pid":4242,"hub":{"connected":true}})", record(4242, true)},
        StatusCase{"not_connected", R"({"pid":4242,"hub":{"connected":false}})", record(4242, false)},
        StatusCase{"members_in_any_order_with_others",
                   R"({"version":"1.2","hub":{"url":"https://h","connected":true},"started":"x","pid":7})",
                   record(7, true)},
        StatusCase{"pid_zero", R"({"pid":0})", record(0)},
        StatusCase{"pid_max", R"({"pid":4294967295,"hub":{"connected":false}})", record(4294967295u, false)},
        StatusCase{"trailing_blank_lines", "{\"pid\":12}\n\n\r\n", record(12)},
        // "connected" counts only inside "hub".
        StatusCase{"connected_at_top_level", R"({"pid":12,"connected":true})", record(12)},
        StatusCase{"connected_at_both_levels", R"({"pid":12,"connected":true,"hub":{"connected":false}})",
                   record(12, false)},
        StatusCase{"connected_is_string", R"({"pid":12,"hub":{"connected":"true"}})", record(12)},
        StatusCase{"connected_is_number", R"({"pid":12,"hub":{"connected":1}})", record(12)},
        StatusCase{"connected_is_null", R"({"pid":12,"hub":{"connected":null}})", record(12)},
        StatusCase{"hub_is_boolean", R"({"pid":12,"hub":true})", record(12)},
        StatusCase{"hub_is_array", R"({"pid":12,"hub":[{"connected":true}]})", record(12)},
        StatusCase{"hub_without_connected", R"({"pid":12,"hub":{}})", record(12)},
        // Only a plain unsigned integer literal up to 2^32 - 1 is a pid.
        StatusCase{"pid_above_max", R"({"pid":4294967296,"hub":{"connected":true}})", std::nullopt},
        StatusCase{"pid_max_uint64", R"({"pid":18446744073709551615})", std::nullopt},
        StatusCase{"pid_above_uint64", R"({"pid":18446744073709551616})", std::nullopt},
        StatusCase{"pid_with_fraction", R"({"pid":12.0,"hub":{"connected":true}})", std::nullopt},
        StatusCase{"pid_with_exponent", R"({"pid":1e3,"hub":{"connected":true}})", std::nullopt},
        StatusCase{"pid_with_capital_exponent", R"({"pid":12E0})", std::nullopt},
        StatusCase{"pid_negative", R"({"pid":-1,"hub":{"connected":true}})", std::nullopt},
        StatusCase{"pid_negative_zero", R"({"pid":-0})", std::nullopt},
        StatusCase{"pid_string", R"({"pid":"12","hub":{"connected":true}})", std::nullopt},
        StatusCase{"pid_leading_zero", R"({"pid":012})", std::nullopt},
        StatusCase{"pid_plus_sign", R"({"pid":+12})", std::nullopt},
        StatusCase{"pid_boolean", R"({"pid":true})", std::nullopt},
        StatusCase{"pid_null", R"({"pid":null})", std::nullopt},
        StatusCase{"pid_array", R"({"pid":[12]})", std::nullopt},
        StatusCase{"pid_missing", R"({"hub":{"connected":true}})", std::nullopt},
        StatusCase{"pid_inside_hub", R"({"hub":{"pid":12,"connected":true}})", std::nullopt},
        StatusCase{"pid_hex", R"({"pid":0x10})", std::nullopt},
        StatusCase{"top_level_array", R"([{"pid":12}])", std::nullopt},
        StatusCase{"top_level_number", "12", std::nullopt},
        StatusCase{"two_objects", "{\"pid\":12}\n{\"pid\":13}\n", std::nullopt},
        StatusCase{"torn_write", R"({"pid":12,"hub":{"conn)", std::nullopt},
        StatusCase{"nul_after_value", bytes("{\"pid\":12}\0"), std::nullopt},
        StatusCase{"nul_inside_number", bytes("{\"pid\":1\0" "2}"), std::nullopt},
        StatusCase{"invalid_utf8_member", "{\"pid\":12,\"n\":\"\xC0\x80\"}", std::nullopt},
        StatusCase{"empty_file", "", std::nullopt},
        StatusCase{"byte_order_mark", "\xEF\xBB\xBF{\"pid\":12}", std::nullopt},
        StatusCase{"repeated_pid_last_wins", R"({"pid":1,"hub":{"connected":true},"pid":2})", record(2, true)},
        StatusCase{"repeated_pid_not_a_number", R"({"pid":1,"pid":"2"})", std::nullopt},
        StatusCase{"repeated_hub_drops_connected", R"({"pid":1,"hub":{"connected":true},"hub":{}})",
                   record(1)},
        StatusCase{"pid_inside_object_member", R"({"x":{"pid":1}})", std::nullopt},
        StatusCase{"nested_65_levels", R"({"pid":1,"x":)" + std::string(64, '[') + std::string(64, ']') + "}",
                   std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The files themselves.

TEST(StateFiles, MissingFilesReadAsAbsent) {
  test::TempDir dir("missing");
  EXPECT_EQ(read_hub_url(dir.path()), std::nullopt);
  EXPECT_EQ(read_status_file(dir.path()), std::nullopt);
  EXPECT_EQ(read_hub_url(dir / "no such directory"), std::nullopt);
  EXPECT_EQ(read_status_file(dir / "no such directory"), std::nullopt);
  // Reading creates nothing, not even the directory.
  EXPECT_TRUE(fs::is_empty(dir.path()));
  EXPECT_FALSE(fs::exists(dir / "no such directory"));
}

TEST(StateFiles, DirectoryInPlaceOfFileReadsAsAbsent) {
  test::TempDir dir("dirs");
  fs::create_directory(dir / "config.json");
  fs::create_directory(dir / "status.json");
  EXPECT_EQ(read_hub_url(dir.path()), std::nullopt);
  EXPECT_EQ(read_status_file(dir.path()), std::nullopt);
}

TEST(StateFiles, EveryCallReadsTheFileAfresh) {
  test::TempDir dir("afresh");
  test::write_file(dir / "config.json", R"({"hub":{"url":"https://a"}})");
  test::write_file(dir / "status.json", R"({"pid":1,"hub":{"connected":false}})");
  EXPECT_EQ(read_hub_url(dir.path()), "https://a");
  EXPECT_EQ(read_status_file(dir.path()), record(1, false));

  test::write_file(dir / "config.json", R"({"hub":{"url":"https://b"}})");
  test::write_file(dir / "status.json", R"({"pid":2,"hub":{"connected":true}})");
  EXPECT_EQ(read_hub_url(dir.path()), "https://b");
  EXPECT_EQ(read_status_file(dir.path()), record(2, true));

  fs::remove(dir / "config.json");
  fs::remove(dir / "status.json");
  EXPECT_EQ(read_hub_url(dir.path()), std::nullopt);
  EXPECT_EQ(read_status_file(dir.path()), std::nullopt);
}

TEST(StateFiles, NonAsciiStateDirectory) {
  test::TempDir parent("non-ascii");
  const fs::path dir = parent.path() / fs::path(u8"\u00e9tat \u2026");
  fs::create_directory(dir);
  test::write_file(dir / "config.json", R"({"hub":{"url":"https://h"}})");
  test::write_file(dir / "status.json", R"({"pid":3})");
  EXPECT_EQ(read_hub_url(dir), "https://h");
  EXPECT_EQ(read_status_file(dir), record(3));
}

// The size cap: anything above 16 MiB is not the agent's file and reads as absent.
TEST(StateFiles, SizeCapIsInclusive) {
  test::TempDir dir("cap");
  const std::string config = R"({"hub":{"url":"https://h"}})";
  const std::string status = R"({"pid":5})";

  const auto padded = [](const std::string& json, std::size_t size) {
    return json + std::string(size - json.size(), ' ');
  };
  test::write_file(dir / "config.json", padded(config, kMaxStateFileBytes));
  test::write_file(dir / "status.json", padded(status, kMaxStateFileBytes));
  EXPECT_EQ(read_hub_url(dir.path()), "https://h");
  EXPECT_EQ(read_status_file(dir.path()), record(5));

  test::write_file(dir / "config.json", padded(config, kMaxStateFileBytes + 1));
  test::write_file(dir / "status.json", padded(status, kMaxStateFileBytes + 1));
  EXPECT_EQ(read_hub_url(dir.path()), std::nullopt);
  EXPECT_EQ(read_status_file(dir.path()), std::nullopt);
}

}  // namespace
}  // namespace tallow
