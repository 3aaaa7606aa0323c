#include "platform/user_directories.h"

namespace tallow::platform {

// LOCALAPPDATA is Windows' per-user state base, and the caller reads it first.
std::optional<std::filesystem::path> user_state_base() { return std::nullopt; }

}  // namespace tallow::platform
