#pragma once
// The agent's side of its contract with the tray, for the stand-in agent and the tests
// that play an agent: the stop request it listens for, and programs it starts on their
// own. The tray itself needs neither. CMake builds the posix/ or the win32/ half.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/wake_event.h"

namespace tallow::agent_side {

// A wake event raised when this process is asked to stop: a console break or Ctrl+C on
// Windows, SIGTERM or SIGINT on Linux. Installed once; later calls return the same event.
Result<std::shared_ptr<platform::WakeEvent>> stop_request_event();

// Starts a plain process that nobody waits for; returns its pid.
Result<std::uint32_t> spawn_detached(const std::filesystem::path& program, const std::vector<std::string>& arguments);

}  // namespace tallow::agent_side
