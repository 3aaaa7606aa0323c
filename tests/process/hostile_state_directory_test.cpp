// State directories that black-box runs of the tray met: relative, not UTF-8, or with
// something other than a file in the log's place. The agent must either run in the
// very directory the tray reads, or the launch must fail at once and say why.

#include "process/hostile_state_directory.h"

#include "agent/agent_locations.h"
#include "platform/environment.h"

namespace tallow::test {

namespace fs = std::filesystem;

TEST_P(HostileStateDirectory, TheAgentRunsWhereTheTrayLooksOrTheLaunchFailsAtOnce) {
  const HostileDirectoryCase& c = GetParam();
  const fs::path directory = c.prepare(scratch());
  std::optional<ScopedWorkingDirectory> cwd;
  if (directory.is_relative()) {
    // As the tray meets it: TALLOWMERE_STATE_DIRECTORY relative to where it was started.
    cwd.emplace(scratch());
    set_process_environment(std::string(kStateDirectoryVariable), platform::path_text(directory));
    use_state_directory(resolve_state_directory());
    EXPECT_TRUE(state_dir().is_absolute()) << platform::path_text(state_dir());
  } else {
    use_state_directory(directory);
  }
  set_process_environment(std::string(kListenVariable), "127.0.0.1:7072");
  create_supervisor();

  if (!c.failure) {
    ASSERT_NE(start_until_running(), 0u);
    EXPECT_EQ(launch_record().value("args", nlohmann::json::array()).size(), 1u);
    std::error_code error;
    EXPECT_TRUE(fs::equivalent(state_dir(), scratch() / directory, error));
    stop_until_stopped();
    return;
  }
  supervisor().start();
  const AgentStatus expected = AgentStatus::failed(c.failure(state_dir()));
  EXPECT_TRUE(wait_for_status(expected)) << status_label(status());
  EXPECT_FALSE(has_child());
}

INSTANTIATE_TEST_SUITE_P(
    , HostileStateDirectory,
    ::testing::Values(
        HostileDirectoryCase{"relative", [](const fs::path&) { return fs::path("relstate"); }, {}},
        HostileDirectoryCase{"relative_with_dot_dot",
                             [](const fs::path& scratch) {
                               fs::create_directories(scratch / "elsewhere");
                               return fs::path("elsewhere") / ".." / "relstate";
                             },
                             {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace tallow::test
