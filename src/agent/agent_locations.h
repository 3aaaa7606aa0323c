#pragma once
// Where the agent's state directory and program are, and whether it may listen
// without being enrolled.

#include <filesystem>
#include <string>
#include <string_view>

namespace tallow {

inline constexpr std::string_view kAgentProgramName = "tallowmered";
inline constexpr std::string_view kAgentLogFileName = "tallowmered.log";
inline constexpr std::string_view kStateDirectoryVariable = "TALLOWMERE_STATE_DIRECTORY";
inline constexpr std::string_view kListenVariable = "TALLOWMERE_LISTEN";

// TALLOWMERE_STATE_DIRECTORY verbatim; else LOCALAPPDATA joined with "tallowmere"; else
// the platform's per-user state base joined with "tallowmere" (Linux:
// $XDG_STATE_HOME/tallowmere, by default ~/.local/state/tallowmere); else "tallowmere";
// made absolute against the working directory.
std::filesystem::path resolve_state_directory();

// The agent program beside the tray's own executable.
std::filesystem::path resolve_agent_path();

// True when TALLOWMERE_LISTEN (from the env file if it names it at all, else from
// the tray's environment) is present and not blank.
bool is_listen_configured(const std::filesystem::path& state_directory);

// "--state-directory=" followed by the directory, one argument; on Linux built from the
// path's own bytes, so a name that is not UTF-8 reaches the agent unchanged.
std::string state_directory_argument(const std::filesystem::path& state_directory);

}  // namespace tallow
