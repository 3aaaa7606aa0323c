// The state directory belongs to another program, and anybody with the user's rights
// can put anything there. Whatever the files hold, the readers must answer (absent
// when in doubt) without throwing, crashing or hanging the tray's status refresh.

#include "agent/state_files.h"

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "support/test_support.h"

namespace tallow {

// Shared word for word by every test file that prints these values.
inline void PrintTo(const StatusFileRecord& record, std::ostream* out) {
  *out << "{pid " << record.pid << ", connected "
       << (record.connected ? (*record.connected ? "true" : "false") : "absent") << "}";
}
inline void PrintTo(const EnvEntry& entry, std::ostream* out) {
  *out << "{\"" << entry.key << "\" = \"" << entry.value << "\"}";
}

namespace {

namespace fs = std::filesystem;

struct Answers {
  std::optional<std::string> hub_url;
  std::optional<StatusFileRecord> status;
  std::vector<EnvEntry> env;
};

// Runs all three readers on a worker thread so that a reader that hangs fails this
// test with a message instead of stalling the whole run.
std::optional<Answers> read_all_within(const fs::path& directory,
                                       std::chrono::seconds limit = std::chrono::seconds(120)) {
  struct Shared {
    std::atomic<bool> done{false};
    Answers answers;
    std::string thrown;
  };
  auto shared = std::make_shared<Shared>();
  std::thread([shared, directory] {
    try {
      shared->answers.hub_url = read_hub_url(directory);
      shared->answers.status = read_status_file(directory);
      shared->answers.env = read_env_file(directory);
    } catch (const std::exception& e) {
      shared->thrown = e.what();
    } catch (...) {
      shared->thrown = "unknown exception";
    }
    shared->done = true;
  }).detach();
  if (!test::wait_until([&] { return shared->done.load(); }, limit)) {
    ADD_FAILURE() << "a reader did not return within " << limit.count() << " s";
    return std::nullopt;
  }
  if (!shared->thrown.empty()) {
    ADD_FAILURE() << "a reader threw: " << shared->thrown;
    return std::nullopt;
  }
  return shared->answers;
}

// Writes the same bytes as all three files.
void write_all(const test::TempDir& dir, const std::string& bytes) {
  for (const char* name : {"config.json", "status.json", "env"}) test::write_file(dir / name, bytes);
}

std::string repeat(std::string_view piece, std::size_t count) {
  std::string out;
  out.reserve(piece.size() * count);
  for (std::size_t i = 0; i < count; ++i) out += piece;
  return out;
}

constexpr std::size_t kMillion = 1000000;

struct DeepCase {
  const char* name;
  std::string content;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const DeepCase& c, std::ostream* out) { *out << c.name; }

class DeeplyNestedJson : public ::testing::TestWithParam<DeepCase> {};

TEST_P(DeeplyNestedJson, ReadsAsAbsent) {
  test::TempDir dir("deep");
  write_all(dir, GetParam().content);
  const auto answers = read_all_within(dir.path());
  ASSERT_TRUE(answers);
  EXPECT_EQ(answers->hub_url, std::nullopt);
  EXPECT_EQ(answers->status, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    HostileStateFiles, DeeplyNestedJson,
    ::testing::Values(
        DeepCase{"open_arrays", repeat("[", kMillion)},
        DeepCase{"closed_arrays", repeat("[", kMillion) + repeat("]", kMillion)},
        DeepCase{"open_objects", repeat("{\"a\":", kMillion)},
        DeepCase{"closed_objects", repeat("{\"a\":", kMillion) + "1" + repeat("}", kMillion)},
        // The right member names all the way down, but never at the right place.
        DeepCase{"hub_inside_hub", repeat("{\"hub\":", kMillion) + "{\"url\":\"x\",\"connected\":true}" +
                                       repeat("}", kMillion)},
        DeepCase{"unbalanced_close", repeat("[", kMillion) + repeat("]", kMillion + 1)}),
    [](const auto& info) { return std::string(info.param.name); });

// The agent writes flat files: a million levels deep anywhere, even in a member nobody
// reads, is not one of them, and must cost the refresh neither time nor memory.
TEST(HostileStateFiles, DeepUnreadMemberMakesTheFileAbsent) {
  test::TempDir dir("deep-member");
  const std::string deep = repeat("[", kMillion) + repeat("]", kMillion);
  test::write_file(dir / "config.json", "{\"hub\":{\"url\":\"https://h\"},\"extra\":" + deep + "}");
  test::write_file(dir / "status.json", "{\"pid\":77,\"hub\":{\"connected\":true},\"extra\":" + deep + "}");
  const auto answers = read_all_within(dir.path());
  ASSERT_TRUE(answers);
  EXPECT_EQ(answers->hub_url, std::nullopt);
  EXPECT_EQ(answers->status, std::nullopt);
}

TEST(HostileStateFiles, FourHundredDigitPidReadsAsAbsent) {
  test::TempDir dir("digits");
  for (const std::string& digits : {std::string(400, '9'), "1" + std::string(399, '0'),
                                   "4294967295" + std::string(390, '0')}) {
    test::write_file(dir / "status.json", "{\"pid\":" + digits + ",\"hub\":{\"connected\":true}}");
    const auto answers = read_all_within(dir.path());
    ASSERT_TRUE(answers);
    EXPECT_EQ(answers->status, std::nullopt) << digits;
  }
}

TEST(HostileStateFiles, FiftyMegabyteFilesReadAsAbsent) {
  test::TempDir dir("big");
  // Valid content padded with white space: only the size can make it absent.
  const std::size_t size = 50u * 1000u * 1000u;
  const auto padded = [&](std::string head) { return head + std::string(size - head.size(), '\n'); };
  test::write_file(dir / "config.json", padded(R"({"hub":{"url":"https://h"}})"));
  test::write_file(dir / "status.json", padded(R"({"pid":9})"));
  test::write_file(dir / "env", padded("A=1\n"));
  const auto answers = read_all_within(dir.path());
  ASSERT_TRUE(answers);
  EXPECT_EQ(answers->hub_url, std::nullopt);
  EXPECT_EQ(answers->status, std::nullopt);
  EXPECT_TRUE(answers->env.empty());
}

struct GarbageCase {
  const char* name;
  std::string content;
};

void PrintTo(const GarbageCase& c, std::ostream* out) { *out << c.name; }

class GarbageFile : public ::testing::TestWithParam<GarbageCase> {};

TEST_P(GarbageFile, ReadsAsAbsent) {
  test::TempDir dir("garbage");
  write_all(dir, GetParam().content);
  const auto answers = read_all_within(dir.path());
  ASSERT_TRUE(answers);
  EXPECT_EQ(answers->hub_url, std::nullopt);
  EXPECT_EQ(answers->status, std::nullopt);
  EXPECT_TRUE(answers->env.empty());
}

std::string pseudo_random_bytes(std::size_t size) {
  std::string out(size, '\0');
  std::uint32_t state = 2463534242u;
  for (auto& byte : out) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state >> 24);
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    HostileStateFiles, GarbageFile,
    ::testing::Values(
        GarbageCase{"empty", ""},
        GarbageCase{"nul_bytes", std::string(4096, '\0')},
        GarbageCase{"json_between_nul_bytes",
                    std::string(1, '\0') + "{\"hub\":{\"url\":\"h\"},\"pid\":1}\nA=1\n" + std::string(1, '\0') + "\xFF"},
        GarbageCase{"invalid_utf8", "\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xFF\xFE\n=\xE2\x82\n"},
        GarbageCase{"random_megabyte_with_invalid_utf8", pseudo_random_bytes(1 << 20) + "\xFF"},
        GarbageCase{"unterminated_string", "\"" + repeat("\\u00e9", 100000)},
        GarbageCase{"utf16_json", std::string("\xFF\xFE{\0}\0", 6)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HostileStateFiles, DirectoriesInPlaceOfFiles) {
  test::TempDir dir("dirs");
  for (const char* name : {"config.json", "status.json", "env", "tallowmered.lock"}) {
    fs::create_directory(dir / name);
    // Something inside, so that no reader can mistake it for an empty file.
    test::write_file(dir / name / "x", "{}");
  }
  const auto answers = read_all_within(dir.path());
  ASSERT_TRUE(answers);
  EXPECT_EQ(answers->hub_url, std::nullopt);
  EXPECT_EQ(answers->status, std::nullopt);
  EXPECT_TRUE(answers->env.empty());
  EXPECT_FALSE(is_agent_lock_held(dir.path()));
}

TEST(HostileStateFiles, StateDirectoryIsAFile) {
  test::TempDir dir("not-a-dir");
  test::write_file(dir / "state", "{\"hub\":{\"url\":\"h\"}}");
  const auto answers = read_all_within(dir / "state");
  ASSERT_TRUE(answers);
  EXPECT_EQ(answers->hub_url, std::nullopt);
  EXPECT_EQ(answers->status, std::nullopt);
  EXPECT_TRUE(answers->env.empty());
  EXPECT_FALSE(is_agent_lock_held(dir / "state"));
}

}  // namespace
}  // namespace tallow
