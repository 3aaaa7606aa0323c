// How the supervisor launches the agent, as the agent sees it (launch.json): its one
// argument, its environment, its working directory, its log; and the launch that
// cannot happen because the agent is not there.

#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "agent/agent_locations.h"
#include "platform/environment.h"
#include "agent/state_files.h"
#include "support/agent_fixture.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;
using Kind = AgentStatus::Kind;

class SupervisorLaunchTest : public AgentFixture {
 protected:
  // One whole run of the agent: start, confirmed, stopped.
  void run_agent_once() {
    ASSERT_NE(start_until_running(), 0u);
    stop_until_stopped();
  }
};

struct MissingAgentCase {
  const char* name;
  bool is_directory;
};

// Test names carry the case; so do failure messages.
void PrintTo(const MissingAgentCase& c, std::ostream* out) { *out << c.name; }

class SupervisorMissingAgentTest : public SupervisorLaunchTest,
                                   public ::testing::WithParamInterface<MissingAgentCase> {};

TEST_P(SupervisorMissingAgentTest, FailsAndCreatesNeitherTheStateDirectoryNorTheLog) {
  const std::filesystem::path missing_parent = scratch() / "not yet";
  use_state_directory(missing_parent / "state");
  const std::filesystem::path agent =
      scratch() / (std::string("tallowmered-elsewhere") + std::string(platform::executable_suffix()));
  if (GetParam().is_directory) std::filesystem::create_directories(agent);
  // No config.json can exist yet, so the tray's own listen setting lets it try.
  set_process_environment(std::string(kListenVariable), "127.0.0.1:7070");

  SupervisorOptions options;
  options.state_directory = state_dir();
  options.agent_path = agent;
  options.timings = short_timings();
  Supervisor& s = create_supervisor(std::move(options));
  s.start();
  const std::string reason = platform::path_text(agent) + " is missing";
  ASSERT_TRUE(wait_for_status(AgentStatus::failed(reason))) << status_label(status());
  EXPECT_EQ(status_label(status()), "Stopped: " + reason);
  EXPECT_FALSE(has_child());
  EXPECT_FALSE(std::filesystem::exists(missing_parent));
  EXPECT_FALSE(std::filesystem::exists(state_dir() / kAgentLogFileName));
}

INSTANTIATE_TEST_SUITE_P(, SupervisorMissingAgentTest,
                         ::testing::Values(MissingAgentCase{"no_such_file", false},
                                           MissingAgentCase{"a_directory", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SupervisorLaunchTest, CreatesAMissingStateDirectoryWithItsParents) {
  use_state_directory(scratch() / "first" / "second" / "state");
  set_process_environment(std::string(kListenVariable), "127.0.0.1:7071");
  create_supervisor();
  ASSERT_FALSE(std::filesystem::exists(state_dir()));
  ASSERT_NE(start_until_running(), 0u);
  EXPECT_TRUE(std::filesystem::is_directory(state_dir()));
  EXPECT_TRUE(std::filesystem::is_regular_file(state_dir() / kAgentLogFileName));
}

struct DirectoryCase {
  const char* name;
  const char* directory;  // UTF-8
};

// Test names carry the case; so do failure messages.
void PrintTo(const DirectoryCase& c, std::ostream* out) { *out << c.name; }

class SupervisorArgumentTest : public SupervisorLaunchTest,
                               public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(SupervisorArgumentTest, IsExactlyOneStateDirectoryArgumentAndTheDirectoryIsTheWorkingDirectory) {
  use_state_directory(scratch() / platform::path_from_text(GetParam().directory));
  std::filesystem::create_directories(state_dir());
  write_config();
  create_supervisor();
  ASSERT_NE(start_until_running(), 0u);

  const nlohmann::json record = launch_record();
  EXPECT_EQ(record.value("args", nlohmann::json::array()), nlohmann::json::array({expected_argument()}))
      << record.dump();
  const std::filesystem::path cwd = platform::path_from_text(record.value("cwd", std::string()));
  std::error_code error;
  EXPECT_TRUE(std::filesystem::equivalent(cwd, state_dir(), error))
      << platform::path_text(cwd) << " is not " << platform::path_text(state_dir());
}

INSTANTIATE_TEST_SUITE_P(
    , SupervisorArgumentTest,
    ::testing::Values(DirectoryCase{"plain", "state"},
                      DirectoryCase{"spaces", "state dir with spaces"},
                      DirectoryCase{"spaces_twice", "two  spaces/and one more"},
                      DirectoryCase{"unicode", "\xC3\xA9tat d\xE2\x80\x99" "agent \xE6\x97\xA5\xE6\x9C\xAC"},
                      DirectoryCase{"shell_characters", "100% ^caret & (parens) ;semicolon"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SupervisorLaunchTest, TheEnvironmentIsTheTraysThenTheEnvFileInOrderThenNoColor) {
  write_config();
  set_process_environment("TALLOW_TEST_INHERITED", "from the tray");
  set_process_environment("TALLOW_TEST_OVERRIDDEN", "from the tray");
  set_process_environment("NO_COLOR", "0");
  set_process_environment(std::string(kStateDirectoryVariable), std::nullopt);
  write_env_text(
      "TALLOW_TEST_DUPLICATE=first\n"
      "# TALLOW_TEST_COMMENTED=never\n"
      "TALLOW_TEST_OVERRIDDEN=from the env file\n"
      "NO_COLOR=0\n"
      "export TALLOW_TEST_EXPORTED=\"two words\"\n"
      "TALLOW_TEST_DUPLICATE=second\r\n"
      "TALLOW_TEST_EMPTY=\n");
  create_supervisor();
  ASSERT_NE(start_until_running(), 0u);

  const nlohmann::json environment = launch_record().value("environment", nlohmann::json::object());
  const auto value = [&](const char* name) -> std::optional<std::string> {
    if (!environment.contains(name) || !environment[name].is_string()) return std::nullopt;
    return environment[name].get<std::string>();
  };
  EXPECT_EQ(value("TALLOW_TEST_INHERITED"), "from the tray");
  EXPECT_EQ(value("TALLOW_TEST_OVERRIDDEN"), "from the env file");
  EXPECT_EQ(value("TALLOW_TEST_DUPLICATE"), "second");
  EXPECT_EQ(value("TALLOW_TEST_EXPORTED"), "two words");
  EXPECT_EQ(value("TALLOW_TEST_EMPTY"), "");
  EXPECT_EQ(value("TALLOW_TEST_COMMENTED"), std::nullopt);
  EXPECT_EQ(value("NO_COLOR"), "1");
  // The tray adds neither of its own settings.
  EXPECT_EQ(value("TALLOWMERE_STATE_DIRECTORY"), std::nullopt);
  EXPECT_EQ(value("TALLOWMERE_LISTEN"), std::nullopt);
}

TEST_F(SupervisorLaunchTest, AnEnvFileThatIsNotUtf8IsIgnoredAsAWhole) {
  write_config();
  write_env_text("TALLOWMERED_OUTPUT=from a broken env file\nTALLOW_TEST_BROKEN=\xC3\x28\n");
  create_supervisor();
  ASSERT_NE(start_until_running(), 0u);
  const nlohmann::json environment = launch_record().value("environment", nlohmann::json::object());
  EXPECT_FALSE(environment.contains("TALLOW_TEST_BROKEN")) << environment.dump();
  EXPECT_FALSE(environment.contains("TALLOWMERED_OUTPUT")) << environment.dump();
  EXPECT_EQ(log_text().find("from a broken env file"), std::string::npos) << log_text();
}

TEST_F(SupervisorLaunchTest, TheLogIsAppendedToAndNeverTruncated) {
  write_config();
  const std::string earlier = "written before the tray started the agent\n";
  write_file(state_dir() / kAgentLogFileName, earlier);
  create_supervisor();

  write_env({{"TALLOWMERED_OUTPUT", "first run"}});
  run_agent_once();
  const std::string after_first = log_text();
  write_env({{"TALLOWMERED_OUTPUT", "second run"}});
  run_agent_once();
  const std::string log = log_text();

  ASSERT_EQ(log.rfind(after_first, 0), 0u) << "the first run's log was rewritten:\n" << log;
  ASSERT_EQ(log.rfind(earlier, 0), 0u) << log;
  const auto first = log.find("first run");
  const auto second = log.find("second run");
  ASSERT_NE(first, std::string::npos) << log;
  ASSERT_NE(second, std::string::npos) << log;
  EXPECT_LT(first, second);
  EXPECT_GT(log.size(), after_first.size());
}

}  // namespace
}  // namespace tallow::test
