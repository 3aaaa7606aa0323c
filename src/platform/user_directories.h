#pragma once
// Per-user places the platform itself defines.

#include <filesystem>
#include <optional>

namespace tallow::platform {

// Where a program keeps its per-user state when nothing more specific names a place:
// on Linux $XDG_STATE_HOME when it is absolute (a relative one is invalid and ignored),
// else ~/.local/state; none on Windows, where LOCALAPPDATA serves.
std::optional<std::filesystem::path> user_state_base();

}  // namespace tallow::platform
