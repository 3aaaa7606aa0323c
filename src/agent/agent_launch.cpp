#include "agent/agent_launch.h"

#include <system_error>

#include "agent/agent_locations.h"
#include "agent/agent_status.h"
#include "platform/file.h"

namespace tallow {

std::vector<platform::EnvironmentVariable> launch_environment_overrides(
    const std::vector<EnvEntry>& env_file) {
  std::vector<platform::EnvironmentVariable> overrides;
  overrides.reserve(env_file.size() + 1);
  for (const EnvEntry& entry : env_file) {
    if (platform::EnvironmentVariable variable{entry.key, entry.value}; platform::can_be_variable(variable)) {
      overrides.push_back(std::move(variable));
    }
  }
  // Colour codes would only clutter the log file.
  overrides.push_back({"NO_COLOR", "1"});
  return overrides;
}

Result<std::unique_ptr<platform::ChildProcess>> launch_agent(
    const std::filesystem::path& state_directory, const std::filesystem::path& agent_path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(agent_path, error)) return Error{missing_agent_reason(agent_path)};
  if (auto created = platform::create_directories(state_directory); !created) return created.error();
  auto log = platform::open_log_for_append(state_directory / kAgentLogFileName);
  if (!log) return log.error();

  platform::AgentCommand command;
  command.program = agent_path;
  command.arguments = {state_directory_argument(state_directory)};
  command.environment =
      platform::environment_with(launch_environment_overrides(read_env_file(state_directory)));
  command.working_directory = state_directory;
  command.output = std::move(log).value();
  return platform::spawn_contained(std::move(command));
}

}  // namespace tallow
