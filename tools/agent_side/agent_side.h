#pragma once
// The agent's side of its contract with the tray, for the stand-in agent and the tests
// that play an agent: the stop request it listens for, programs it starts on their own,
// the lock it holds while it runs and the files it writes whole. The tray itself needs
// none of these. CMake builds the posix/ or the win32/ half.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/file.h"
#include "platform/wake_event.h"

namespace tallow::agent_side {

// A wake event raised when this process is asked to stop: a console break or Ctrl+C on
// Windows, SIGTERM or SIGINT on Linux. Installed once; later calls return the same event.
Result<std::shared_ptr<platform::WakeEvent>> stop_request_event();

// Starts a plain process that nobody waits for; returns its pid.
Result<std::uint32_t> spawn_detached(const std::filesystem::path& program, const std::vector<std::string>& arguments);

// An exclusive lock on a file, held until destroyed: closing the file releases it.
class FileLock {
 public:
  explicit FileLock(platform::File file) : file_(std::move(file)) {}

 private:
  platform::File file_;
};

// Creates `path` if needed and locks it exclusively without waiting, with the kind of lock
// the tray probes for (platform/file.h, is_file_locked_elsewhere).
Result<FileLock> lock_file_exclusively(const std::filesystem::path& path);

// Writes all of `bytes` to the file whose whole content it replaces, atomically (write to
// a temporary file beside it, then rename over), so that the tray never reads a part.
Result<void> replace_file_atomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace tallow::agent_side
