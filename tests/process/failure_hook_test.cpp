// The failure hook as a program meets it: reported once, then the main thread ends the
// process with 101, while a failed task ends alone.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/captured_process.h"
#include "support/test_support.h"

namespace tallow {
namespace {

using namespace std::chrono_literals;

TEST(FailureHook, EndsTheProcessOnTheMainThreadAndOnlyTheTaskElsewhere) {
  // "panicked at FILE:LINE:COLUMN:", a line feed and the message, for each report. A
  // failure names the line that failed; an exception, where it was caught.
  const auto report = [](const std::string& file, const std::string& message) {
    return "panicked at [^\\n]*" + file + ":[0-9]+:[0-9]+:\\n" + message + "\\n--\\n";
  };
  struct Case {
    const char* mode;
    std::uint32_t exit_code;
    std::string output;  // a regular expression
  };
  const std::vector<Case> cases = {
      {"main", 101, report("failure_probe\\.cpp", "the main thread gave up")},
      {"throw", 101, report("failure\\.cpp", "nobody caught this")},
      {"task", 0,
       report("failure_probe\\.cpp", "a task gave up") + report("task_runtime\\.cpp", "a task threw") +
           "the process goes on\\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    const auto run = platform::run_captured(
        {test::program_path("failure_probe"), {c.mode}, platform::environment_with({})}, {60s, 1 << 16}, {});
    ASSERT_TRUE(run) << run.error().message;
    EXPECT_EQ(run.value().exit_status, (platform::ExitStatus{platform::ExitStatus::Kind::code, c.exit_code}));
    std::string output = run.value().output;
    std::erase(output, '\r');
    EXPECT_TRUE(std::regex_match(output, std::regex(c.output))) << output;
  }
}

}  // namespace
}  // namespace tallow
