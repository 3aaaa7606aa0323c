#include "agent/agent_locations.h"

#include "common/text.h"
#include "platform/environment.h"
#include "platform/user_directories.h"
#include "agent/state_files.h"

namespace tallow {

namespace {

std::filesystem::path configured_state_directory() {
  if (auto directory = platform::environment_path(kStateDirectoryVariable)) return *directory;
  if (auto local = platform::environment_path("LOCALAPPDATA")) return *local / "tallowmere";
  // Linux has no LOCALAPPDATA; its per-user state lives under ~/.local/state.
  if (auto base = platform::user_state_base()) return *base / "tallowmere";
  return "tallowmere";
}

}  // namespace

std::filesystem::path resolve_state_directory() {
  // Made absolute once, here: the agent runs inside the state directory, so a relative
  // path handed on to it would name a directory below that one.
  std::filesystem::path directory = configured_state_directory();
  std::error_code error;
  auto absolute = std::filesystem::absolute(directory, error);
  return error ? directory : absolute;
}

std::filesystem::path resolve_agent_path() {
  const std::string file_name =
      std::string(kAgentProgramName) + std::string(platform::executable_suffix());
  if (auto self = platform::executable_path()) return self->parent_path() / file_name;
  return file_name;
}

bool is_listen_configured(const std::filesystem::path& state_directory) {
  // An entry in the env file wins even when blank: the file is the user's explicit word.
  auto listen = env_file_value(read_env_file(state_directory), kListenVariable);
  if (!listen) listen = platform::environment_variable(kListenVariable);
  return listen && !trim_white_space(*listen).empty();
}

std::string state_directory_argument(const std::filesystem::path& state_directory) {
  return "--state-directory=" + platform::path_argument(state_directory);
}

}  // namespace tallow
