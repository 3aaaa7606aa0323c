#pragma once
// One launch of the agent: its command line, environment, working directory and log.

#include <filesystem>
#include <memory>
#include <vector>

#include "common/result.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "agent/state_files.h"

namespace tallow {

// The variables the launch sets over the inherited environment, in order: the env
// file's entries, then NO_COLOR=1. Entries that cannot be variables (an empty key, a
// NUL in key or value) are left out; the launch goes on without them.
std::vector<platform::EnvironmentVariable> launch_environment_overrides(
    const std::vector<EnvEntry>& env_file);

// Starts the agent contained, with "--state-directory=" as its one argument, the
// state directory as working directory, output appended to tallowmered.log and the
// launch environment. Checks first that the agent exists, so a missing agent creates
// neither the directory nor the log.
Result<std::unique_ptr<platform::ChildProcess>> launch_agent(
    const std::filesystem::path& state_directory, const std::filesystem::path& agent_path);

}  // namespace tallow
