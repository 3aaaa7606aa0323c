// The agent status as the user reads it in the menu and tooltip, and the reasons
// the supervisor writes when the agent fails or ends on its own.

#include "agent/agent_status.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/environment.h"

namespace tallow {
namespace {

struct LabelCase {
  const char* name;
  AgentStatus status;
  std::string label;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const LabelCase& c, std::ostream* out) { *out << c.name; }

class StatusLabel : public ::testing::TestWithParam<LabelCase> {};

TEST_P(StatusLabel, IsTheUsersTextByteForByte) {
  EXPECT_EQ(status_label(GetParam().status), GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(
    AgentStatus, StatusLabel,
    ::testing::Values(
        LabelCase{"stopped", AgentStatus::stopped(), "Stopped"},
        LabelCase{"starting", AgentStatus::starting(), "Starting\xE2\x80\xA6"},
        LabelCase{"running", AgentStatus::running(), "Running"},
        LabelCase{"stopping", AgentStatus::stopping(), "Stopping\xE2\x80\xA6"},
        LabelCase{"running_elsewhere", AgentStatus::running_elsewhere(), "Running (started elsewhere)"},
        LabelCase{"not_enrolled", AgentStatus::not_enrolled(), "Not enrolled"},
        LabelCase{"failed_one_letter", AgentStatus::failed("x"), "Stopped: x"},
        LabelCase{"failed_empty_reason_keeps_space", AgentStatus::failed(""), "Stopped: "},
        // The reason is shown exactly as stored: nothing trimmed, quoted or shortened.
        LabelCase{"failed_reason_untouched", AgentStatus::failed("  two\nlines \xE2\x80\xA6 "),
                  "Stopped:   two\nlines \xE2\x80\xA6 "},
        LabelCase{"failed_long_reason", AgentStatus::failed(std::string(5000, 'r')),
                  "Stopped: " + std::string(5000, 'r')},
        LabelCase{"exited_with_zero", AgentStatus::failed(exit_reason({platform::ExitStatus::Kind::code, 0})),
                  "Stopped: exited (exit code: 0), see the log"},
        LabelCase{"exited_with_ntstatus", AgentStatus::failed(exit_reason({platform::ExitStatus::Kind::code, 0xC000013Au})),
                  "Stopped: exited (exit code: 0xc000013a), see the log"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AgentStatus, PendingLabelsEndInOneEllipsisCharacter) {
  // "…" is U+2026, not three full stops; each label is 8 letters and 3 bytes of ellipsis.
  for (const auto& status : {AgentStatus::starting(), AgentStatus::stopping()}) {
    const std::string label = status_label(status);
    EXPECT_EQ(label.size(), 11u) << label;
    EXPECT_TRUE(label.ends_with("\xE2\x80\xA6")) << label;
    EXPECT_EQ(label.find("..."), std::string::npos) << label;
  }
}

TEST(AgentStatus, NewStatusIsStopped) {
  EXPECT_EQ(AgentStatus(), AgentStatus::stopped());
  EXPECT_EQ(AgentStatus().kind(), AgentStatus::Kind::stopped);
  EXPECT_EQ(status_label(AgentStatus()), "Stopped");
}

TEST(AgentStatus, EqualOnlyForSameVariantAndSameReason) {
  // Every distinct status here must differ from every other, and equal itself.
  const std::vector<AgentStatus> distinct = {
      AgentStatus::stopped(),          AgentStatus::starting(),     AgentStatus::running(),
      AgentStatus::stopping(),         AgentStatus::running_elsewhere(),
      AgentStatus::not_enrolled(),     AgentStatus::failed(""),     AgentStatus::failed("a"),
      AgentStatus::failed("b"),        AgentStatus::failed("A"),    AgentStatus::failed("a "),
      AgentStatus::failed("Stopped")};
  for (std::size_t i = 0; i < distinct.size(); ++i) {
    for (std::size_t j = 0; j < distinct.size(); ++j) {
      EXPECT_EQ(distinct[i] == distinct[j], i == j)
          << status_label(distinct[i]) << " vs " << status_label(distinct[j]);
    }
  }
  EXPECT_EQ(AgentStatus::failed("same reason"), AgentStatus::failed(std::string("same ") + "reason"));
}

struct ExitCodeCase {
  std::uint32_t code;
  std::string text;
};

class ExitStatusText : public ::testing::TestWithParam<ExitCodeCase> {};

TEST_P(ExitStatusText, DecimalBelowBit31HexAbove) {
  const auto& c = GetParam();
  const platform::ExitStatus status{platform::ExitStatus::Kind::code, c.code};
  EXPECT_EQ(exit_status_text(status), c.text);
  EXPECT_EQ(exit_reason(status), "exited (" + c.text + "), see the log");
}

INSTANTIATE_TEST_SUITE_P(
    AgentStatus, ExitStatusText,
    ::testing::Values(ExitCodeCase{0, "exit code: 0"},
                      ExitCodeCase{1, "exit code: 1"},
                      ExitCodeCase{255, "exit code: 255"},
                      ExitCodeCase{4294967, "exit code: 4294967"},
                      ExitCodeCase{2147483647u, "exit code: 2147483647"},
                      ExitCodeCase{2147483648u, "exit code: 0x80000000"},
                      ExitCodeCase{0x80000001u, "exit code: 0x80000001"},
                      ExitCodeCase{0xC0000005u, "exit code: 0xc0000005"},
                      ExitCodeCase{0xC000013Au, "exit code: 0xc000013a"},
                      ExitCodeCase{0xFFFFFFFFu, "exit code: 0xffffffff"}));

struct SignalCase {
  std::uint32_t signal;
  std::string text;
};

class SignalStatusText : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalStatusText, NamesTheSignal) {
  const auto& c = GetParam();
  const platform::ExitStatus status{platform::ExitStatus::Kind::signal, c.signal};
  EXPECT_EQ(exit_status_text(status), c.text);
  EXPECT_EQ(exit_reason(status), "exited (" + c.text + "), see the log");
}

// Numbers that are the same on every Linux architecture.
INSTANTIATE_TEST_SUITE_P(AgentStatus, SignalStatusText,
                         ::testing::Values(SignalCase{2, "signal: 2 (SIGINT)"},
                                           SignalCase{6, "signal: 6 (SIGABRT)"},
                                           SignalCase{9, "signal: 9 (SIGKILL)"},
                                           SignalCase{11, "signal: 11 (SIGSEGV)"},
                                           SignalCase{15, "signal: 15 (SIGTERM)"}));

TEST(AgentStatus, MissingAgentReasonIsThePathFollowedByIsMissing) {
  // A name with a space and a non-ASCII letter: the text must be the path's UTF-8, unquoted.
  const std::string name = "tallow m\xC3\xA9re tallowmered.exe";
  const std::string reason = missing_agent_reason(platform::path_from_text(name));
  EXPECT_EQ(reason, name + " is missing");
  EXPECT_EQ(status_label(AgentStatus::failed(reason)), "Stopped: " + name + " is missing");

  const auto in_directory = platform::path_from_text("st\xC3\xA4te") / "tallowmered.exe";
  EXPECT_EQ(missing_agent_reason(in_directory), platform::path_text(in_directory) + " is missing");
}

}  // namespace
}  // namespace tallow
