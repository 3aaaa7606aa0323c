// From an ended enrollment run to the notice the user sees and whether the agent
// restarts; and the agent's arguments.

#include "agent/enrollment.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/test_support.h"

namespace tallow {

void PrintTo(const EnrollmentCompletion& c, std::ostream* out) {
  *out << "{\"" << c.notice.caption << "\", \"" << c.notice.text << "\", restart "
       << c.restart_agent << "}";
}

namespace test {
namespace {

using platform::CapturedRun;
using platform::ExitStatus;

Result<CapturedRun> exited(std::uint32_t code, std::string output, std::string error_output,
                           ExitStatus::Kind kind = ExitStatus::Kind::code) {
  CapturedRun run;
  run.exit_status = {kind, code};
  run.output = std::move(output);
  run.error_output = std::move(error_output);
  return run;
}

Result<CapturedRun> given_up(CapturedRun::End end) {
  CapturedRun run;
  run.end = end;
  run.output = "dropped";  // a platform layer that kept it must not show it
  return run;
}

EnrollmentCompletion failed(std::string text) {
  return {{"Enrollment failed", std::move(text)}, false};
}
EnrollmentCompletion enrolled(std::string text) { return {{"Enrolled", std::move(text)}, true}; }

TEST(EnrollmentCompletion, EveryOutcomeHasItsNotice) {
  const std::string fffd = encode_utf8(0xFFFD);
  struct Case {
    const char* name;
    Result<CapturedRun> run;
    std::optional<EnrollmentCompletion> expected;
  };
  const Case cases[] = {
      {"not run", Error{"No such file or directory (os error 2)"},
       failed("No such file or directory (os error 2)")},
      {"timed out", given_up(CapturedRun::End::timed_out), failed("No answer within 30 seconds.")},
      {"given up at shutdown", given_up(CapturedRun::End::woken), std::nullopt},
      {"enrolled", exited(0, "Enrolled as desk-7.\r\n", ""), enrolled("Enrolled as desk-7.")},
      {"enrolled without a word", exited(0, "", ""), enrolled("")},
      {"failed, both streams in order", exited(3, " \t rejected\r\n", "try again\u3000\n"),
       failed("rejected\r\n\ntry again")},
      {"failed on the error stream alone", exited(1, "", "bad code\n"), failed("bad code")},
      {"every white space trimmed",
       exited(0, "\u0085\u00A0\u2028 ok \u3000\u205F", "\u2029\u202F\u1680"), enrolled("ok")},
      {"invalid UTF-8 replaced", exited(0, "caf\xC3 \xFF", "\xE2\x82"),
       enrolled("caf" + fffd + " " + fffd + "\n" + fffd)},
      {"exit code with the top bit", exited(0xC0000005u, "crashed", ""), failed("crashed")},
      {"killed by a signal", exited(9, "half", "", ExitStatus::Kind::signal), failed("half")},
      {"signal 0 is no success", exited(0, "", "", ExitStatus::Kind::signal), failed("")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(complete_enrollment(c.run), c.expected);
  }
}

TEST(EnrollmentCompletion, ArgumentsKeepCodeAndHubWhole) {
  EXPECT_EQ(
      enrollment_arguments("state dir", "a \"b\" c\\", ""),
      (std::vector<std::string>{"--state-directory=state dir", "enroll", "a \"b\" c\\", "--hub="}));
}

}  // namespace
}  // namespace test
}  // namespace tallow
