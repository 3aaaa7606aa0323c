// Whether the agent may start at all: enrolled (config.json), or a listen setting from
// the env file or the tray's own environment; and enrollment noticed by the refresh.

#include <optional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "agent/agent_locations.h"
#include "agent/state_files.h"
#include "support/agent_fixture.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;
using Kind = AgentStatus::Kind;

class SupervisorEnrollmentTest : public AgentFixture {
 protected:
  void expect_nothing_launched() {
    EXPECT_FALSE(has_child());
    EXPECT_FALSE(std::filesystem::exists(state_dir() / kAgentLogFileName));
    EXPECT_FALSE(std::filesystem::exists(state_dir() / "launch.json"));
  }
};

TEST_F(SupervisorEnrollmentTest, WithoutHubUrlOrListenSettingStartSaysNotEnrolled) {
  Supervisor& s = create_supervisor();
  s.start();
  EXPECT_EQ(status(), AgentStatus::not_enrolled());
  EXPECT_EQ(status_label(status()), "Not enrolled");
  // The refresh leaves it so while nothing changes.
  for (int step = 0; step < 3; ++step) s.refresh_status();
  EXPECT_EQ(status(), AgentStatus::not_enrolled());
  expect_nothing_launched();
}

TEST_F(SupervisorEnrollmentTest, NotEnrolledIsDecidedBeforeTheAgentIsLookedFor) {
  SupervisorOptions options;
  options.state_directory = state_dir();
  options.agent_path = scratch() / "no-agent-here";
  options.timings = short_timings();
  Supervisor& s = create_supervisor(std::move(options));
  s.start();
  EXPECT_EQ(status(), AgentStatus::not_enrolled());
  expect_nothing_launched();
}

struct ListenCase {
  const char* name;
  std::optional<std::string> env_file;       // text of the env file, if any
  std::optional<std::string> tray_variable;  // TALLOWMERE_LISTEN of the tray itself
  std::optional<std::string> agent_sees;     // nullopt: not enrolled, nothing launched
};

// Test names carry the case; so do failure messages.
void PrintTo(const ListenCase& c, std::ostream* out) { *out << c.name; }

class SupervisorListenTest : public SupervisorEnrollmentTest,
                             public ::testing::WithParamInterface<ListenCase> {};

TEST_P(SupervisorListenTest, DecidesWhetherAnUnenrolledAgentStarts) {
  const ListenCase& c = GetParam();
  if (c.env_file) write_env_text(*c.env_file);
  if (c.tray_variable) set_process_environment(std::string(kListenVariable), c.tray_variable);
  Supervisor& s = create_supervisor();
  s.start();
  if (!c.agent_sees) {
    EXPECT_EQ(status(), AgentStatus::not_enrolled());
    expect_nothing_launched();
    return;
  }
  EXPECT_EQ(kind(), Kind::starting);
  ASSERT_TRUE(wait_for_kind(Kind::running)) << status_label(status()) << "\n" << log_text();
  EXPECT_EQ(s.hub_url(), std::nullopt);
  const auto environment = launch_record().value("environment", nlohmann::json::object());
  const std::string key(kListenVariable);
  ASSERT_TRUE(environment.contains(key)) << environment.dump();
  EXPECT_EQ(environment[key], *c.agent_sees);
}

INSTANTIATE_TEST_SUITE_P(
    , SupervisorListenTest,
    ::testing::Values(
        ListenCase{"env_file", "TALLOWMERE_LISTEN=127.0.0.1:7777\n", std::nullopt, "127.0.0.1:7777"},
        ListenCase{"tray_environment", std::nullopt, "127.0.0.1:7778", "127.0.0.1:7778"},
        ListenCase{"env_file_without_the_key_defers_to_the_tray", "OTHER=1\n", "127.0.0.1:7779",
                   "127.0.0.1:7779"},
        ListenCase{"env_file_wins_over_the_tray", "TALLOWMERE_LISTEN=127.0.0.1:1\n", "127.0.0.1:2",
                   "127.0.0.1:1"},
        ListenCase{"blank_env_file_value_wins_over_the_tray", "TALLOWMERE_LISTEN=\n", "127.0.0.1:2",
                   std::nullopt},
        ListenCase{"white_space_only", "TALLOWMERE_LISTEN=\" \t\u3000\"\n", std::nullopt,
                   std::nullopt},
        ListenCase{"last_of_two_entries_blank", "TALLOWMERE_LISTEN=127.0.0.1:3\nTALLOWMERE_LISTEN=\n",
                   std::nullopt, std::nullopt},
        ListenCase{"last_of_two_entries_set", "TALLOWMERE_LISTEN=\nTALLOWMERE_LISTEN=127.0.0.1:4\n",
                   std::nullopt, "127.0.0.1:4"},
        ListenCase{"env_file_not_utf8_is_ignored_whole", "TALLOWMERE_LISTEN=127.0.0.1:5\n\xff\n",
                   std::nullopt, std::nullopt},
        ListenCase{"none", std::nullopt, std::nullopt, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SupervisorEnrollmentTest, ARefreshThatFindsAHubUrlStartsTheAgent) {
  // Only the explicit steps below refresh; the loop's first step is the only other one.
  auto timings = short_timings();
  timings.refresh_interval = std::chrono::hours(1);
  Supervisor& s = create_supervisor(timings);
  s.start();
  ASSERT_EQ(status(), AgentStatus::not_enrolled());

  write_config();
  s.refresh_status();
  EXPECT_EQ(kind(), Kind::starting);
  EXPECT_EQ(s.hub_url(), std::string(kTestHubUrl));
  ASSERT_TRUE(wait_until([&] {
    s.refresh_status();
    return kind() == Kind::running;
  })) << status_label(status()) << "\n"
      << log_text();
}

TEST_F(SupervisorEnrollmentTest, EnrollmentIsNoticedWithinOneRefreshPeriod) {
  auto timings = short_timings();
  timings.refresh_interval = 300ms;
  Supervisor& s = create_supervisor(timings);
  s.start();
  ASSERT_EQ(status(), AgentStatus::not_enrolled());

  write_config();
  const auto written = std::chrono::steady_clock::now();
  ASSERT_TRUE(wait_until([&] { return kind() != Kind::not_enrolled; }));
  const auto noticed = std::chrono::steady_clock::now() - written;
  // One period, and a generous margin for a loaded machine or an emulator.
  EXPECT_LT(noticed, timings.refresh_interval + 2s);
  EXPECT_TRUE(wait_for_kind(Kind::running)) << status_label(status()) << "\n" << log_text();
  EXPECT_EQ(s.hub_url(), std::string(kTestHubUrl));
}

}  // namespace
}  // namespace tallow::test
