// The enrollment run with the stand-in agent: the notice each outcome leaves, the hub
// URL read again after every outcome, the restart after a success only, what the agent
// receives, and the end of a run when the program ends.

#include <gtest/gtest.h>

#include <ostream>

#include "agent/enrollment.h"
#include "platform/os_error.h"
#include "agent/state_files.h"
#include "support/agent_fixture.h"
#include "support/process_support.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;

// Quotes, backslashes before quotes and at the end, and spaces: each must survive the
// command line as it was typed.
const std::string kCode = "a \"quoted\" c\\ode\\\\\" x\\";
constexpr std::string_view kOldHub = "https://old.hub.test/";

struct EnrollCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> agent;  // stand-in switches
  Notice expected;
  bool enrolled;
  bool agent_missing = false;
  std::chrono::milliseconds time_limit = 30s;
};

void PrintTo(const EnrollCase& c, std::ostream* out) { *out << c.name; }

class EnrollmentRunTest : public AgentFixture, public ::testing::WithParamInterface<EnrollCase> {};

TEST_P(EnrollmentRunTest, LeavesItsNoticeAndReadsTheHubAgain) {
  const EnrollCase& c = GetParam();
  for (const auto& [name, value] : c.agent) set_process_environment(name, value);
  set_process_environment("NO_COLOR", "0");
  write_config(kOldHub);
  SupervisorOptions options;
  options.state_directory = state_dir();
  options.agent_path = c.agent_missing ? scratch() / "missing.exe" : agent_program();
  options.timings = short_timings();
  // Only enrollment reads config.json after creation.
  options.timings.refresh_interval = 1h;
  Supervisor& s = create_supervisor(std::move(options));
  ASSERT_EQ(s.hub_url(), std::string(kOldHub));
  std::filesystem::remove(state_dir() / kConfigFileName);

  run_enrollment(s, kCode, std::string(kTestHubUrl), {c.time_limit});
  std::optional<Notice> notice;
  ASSERT_TRUE(wait_until([&] { return (notice = s.take_notice()).has_value(); }, 60s));
  EXPECT_EQ(notice->caption, c.expected.caption);
  EXPECT_EQ(notice->text, c.expected.text);
  if (c.enrolled) {
    EXPECT_EQ(s.hub_url(), std::string(kTestHubUrl));
    EXPECT_TRUE(wait_until([&] { return has_child(); })) << status_label(status());
    // The agent wrote config.json from the code it received.
    EXPECT_EQ(nlohmann::json::parse(read_file(state_dir() / kConfigFileName))["code"], kCode);
    return;
  }
  EXPECT_EQ(s.hub_url(), std::nullopt);
  ASSERT_TRUE(settle_runtime());
  EXPECT_EQ(status(), AgentStatus::stopped());
  EXPECT_FALSE(has_child());
  if (c.agent_missing) return;
  auto launch = launch_record();
  EXPECT_EQ(launch["args"].get<std::vector<std::string>>(),
            (std::vector<std::string>{expected_argument(), "enroll", kCode,
                                      "--hub=" + std::string(kTestHubUrl)}));
  EXPECT_EQ(launch["environment"].value("NO_COLOR", ""), "1");
  EXPECT_EQ(launch["cwd"], platform::path_text(std::filesystem::current_path()));
  ASSERT_NE(launch.value("pid", 0u), 0u);
  EXPECT_FALSE(test::is_process_running(launch.value("pid", 0u)));
}

INSTANTIATE_TEST_SUITE_P(
    , EnrollmentRunTest,
    ::testing::Values(
        EnrollCase{"enrolled",
                   {{"TALLOWMERED_ENROLL_OUTPUT", " Welcome, desk-7.\\n"}},
                   {"Enrolled", "Welcome, desk-7."},
                   true},
        EnrollCase{
            "enrolled_silently", {{"TALLOWMERED_ENROLL_OUTPUT", "-"}}, {"Enrolled", ""}, true},
        EnrollCase{"refused",
                   {{"TALLOWMERED_ENROLL_EXIT_CODE", "3"},
                    {"TALLOWMERED_ENROLL_OUTPUT", "  code rejected"},
                    // An ideographic space, written as bytes: a Windows C library would
                    // put a variable's text through the ANSI code page.
                    {"TALLOWMERED_ENROLL_ERROR", "try again\\xff \\xe3\\x80\\x80\\n"}},
                   {"Enrollment failed", "code rejected\ntry again\uFFFD"},
                   false},
        EnrollCase{
            "agent_missing", {}, {"Enrollment failed", platform::os_error_text(2)}, false, true},
        EnrollCase{
            "no_answer",
            {{"TALLOWMERED_ENROLL_HANG", "1"}, {"TALLOWMERED_ENROLL_OUTPUT", "half an answer"}},
            {"Enrollment failed", "No answer within 30 seconds."},
            false,
            false,
            3s}),
    [](const auto& info) { return std::string(info.param.name); });

using EnrollmentEndTest = AgentFixture;

TEST_F(EnrollmentEndTest, EndsWithTheProgramAndLeavesNoNotice) {
  set_process_environment("TALLOWMERED_ENROLL_HANG", "1");
  Supervisor& s = create_supervisor();
  run_enrollment(s, "CODE", std::string(kTestHubUrl), {1h});
  std::uint32_t pid = 0;
  ASSERT_TRUE(wait_until([&] { return (pid = launch_record().value("pid", 0u)) != 0; }));
  track_process(pid);  // only should the run have left it behind
  // Had the run not been woken, this would wait out its hour.
  s.runtime()->shutdown();
  EXPECT_FALSE(test::is_process_running(pid));
  EXPECT_EQ(s.take_notice(), std::nullopt);
}

}  // namespace
}  // namespace tallow::test
