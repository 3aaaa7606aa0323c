// Running a program with both output streams captured, the stand-in agent's "enroll"
// being the program: what comes back, how much of it, and how a run is given up.

#include "platform/captured_process.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "platform/os_error.h"
#include "support/test_support.h"
#include "support/process_support.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;
using platform::CapturedRun;
using platform::EnvironmentVariable;
constexpr std::size_t kMiB = 1024 * 1024;

// What the stand-in writes to each stream for TALLOWMERED_ENROLL_FLOOD.
std::string flood_bytes(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>('!' + i % 89);
  return bytes;
}

Result<CapturedRun> run_enroll(const TempDir& dir, const std::vector<EnvironmentVariable>& switches,
                               platform::CaptureLimits limits,
                               std::span<const platform::WakeEvent* const> wake = {},
                               std::filesystem::path program = program_path("tallowmered")) {
  return platform::run_captured(
      {std::move(program),
       {"--state-directory=" + platform::path_text(dir.path()), "enroll", "CODE", "--hub=h"},
       platform::environment_with(switches)},
      limits, wake);
}

// The pid the stand-in recorded on starting; 0 before.
std::uint32_t recorded_pid(const TempDir& dir) {
  const auto record = nlohmann::json::parse(read_file(dir / "launch.json"), nullptr, false);
  return record.is_object() ? record.value("pid", 0u) : 0u;
}

TEST(CapturedProcess, BringsBackBothStreamsWholeUpToTheCap) {
  struct Case {
    const char* name;
    std::vector<EnvironmentVariable> switches;
    std::size_t kept_bytes;
    std::uint32_t exit_code;
    std::string output, error_output;
  };
  const Case cases[] = {
      // Interleaved on both streams: a reader that drains one before the other hangs.
      {"20 MB each way, kept to 16 MiB",
       {{"TALLOWMERED_ENROLL_FLOOD", "20000000"}},
       16 * kMiB,
       0,
       flood_bytes(16 * kMiB),
       flood_bytes(16 * kMiB)},
      {"3 MB each way, below the cap",
       {{"TALLOWMERED_ENROLL_FLOOD", "3000000"}, {"TALLOWMERED_ENROLL_OUTPUT", "-"}},
       16 * kMiB,
       0,
       flood_bytes(3000000),
       flood_bytes(3000000)},
      {"an odd cap",
       {{"TALLOWMERED_ENROLL_FLOOD", "100000"}},
       1000,
       0,
       flood_bytes(1000),
       flood_bytes(1000)},
      {"stdin at its end",
       {{"TALLOWMERED_ENROLL_STDIN", "1"}, {"TALLOWMERED_ENROLL_OUTPUT", "-"}},
       kMiB,
       0,
       "stdin: 0 bytes",
       ""},
      {"bytes unchanged, exit code",
       {{"TALLOWMERED_ENROLL_OUTPUT", "\\xff\\x00\\xc3("},
        {"TALLOWMERED_ENROLL_ERROR", "\\x80"},
        {"TALLOWMERED_ENROLL_EXIT_CODE", "7"}},
       kMiB,
       7,
       std::string("\xff\0\xc3(", 4),
       "\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    // A reader that deadlocks shows as a time-out rather than a hung test.
    const auto run = run_enroll(dir, c.switches, {60s, c.kept_bytes});
    ASSERT_TRUE(run) << run.error().message;
    EXPECT_EQ(run->end, CapturedRun::End::exited);
    EXPECT_EQ(run->exit_status,
              (platform::ExitStatus{platform::ExitStatus::Kind::code, c.exit_code}));
    // Compared whole but not printed whole: a mismatch would print megabytes.
    EXPECT_TRUE(run->output == c.output)
        << run->output.size() << " bytes: " << run->output.substr(0, 80);
    EXPECT_TRUE(run->error_output == c.error_output)
        << run->error_output.size() << " bytes: " << run->error_output.substr(0, 80);
  }
}

TEST(CapturedProcess, AMissingProgramOrAnArgumentWithANulIsNotRun) {
  TempDir dir;
  const auto run = run_enroll(dir, {}, {10min, kMiB}, {}, dir / "missing.exe");
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error().message, platform::os_error_text(2));
  const auto cut = platform::run_captured(
      {program_path("tallowmered"), {std::string("a\0b", 3)}, {}}, {10min, kMiB}, {});
  EXPECT_FALSE(cut);
}

TEST(CapturedProcess, TimeLimitAndWakeEndTheRunAndTheProcess) {
  auto first = platform::WakeEvent::create();
  auto second = platform::WakeEvent::create();
  ASSERT_TRUE(first && second);
  const platform::WakeEvent* const wake[] = {first->get(), second->get()};
  for (const bool by_wake : {false, true}) {
    SCOPED_TRACE(by_wake ? "woken" : "timed out");
    TempDir dir;
    // Raised once the stand-in runs; the time limit leaves it plenty of time to start.
    std::thread waker([&] {
      if (by_wake && wait_until([&] { return recorded_pid(dir) != 0; })) second.value()->raise();
    });
    const auto run = run_enroll(
        dir, {{"TALLOWMERED_ENROLL_HANG", "1"}, {"TALLOWMERED_ENROLL_OUTPUT", "half an answer"}},
        {by_wake ? 1h : 3s, kMiB}, wake);
    waker.join();
    ASSERT_TRUE(run) << run.error().message;
    EXPECT_EQ(run->end, by_wake ? CapturedRun::End::woken : CapturedRun::End::timed_out);
    if (by_wake) {
      EXPECT_EQ(run->woken_by, 1u);
    }
    EXPECT_EQ(run->output, "");
    // Reaped before the return: gone at once, not some time later.
    const std::uint32_t pid = recorded_pid(dir);
    ASSERT_NE(pid, 0u) << "the stand-in did not start within the limit";
    EXPECT_FALSE(test::is_process_running(pid));
  }
}

}  // namespace
}  // namespace tallow::test
