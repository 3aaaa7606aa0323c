#pragma once
// Child processes: the contained agent, waiting on its exit together with
// wake events, the graceful stop request and the forced end.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/wake_event.h"

namespace tallow::platform {

// How a process ended: an exit code (all 32 bits on Windows, 8 on Linux) or,
// on Linux, the number of the signal that killed it.
struct ExitStatus {
  enum class Kind { code, signal };
  Kind kind = Kind::code;
  std::uint32_t value = 0;
  bool operator==(const ExitStatus&) const = default;
};

// Sends the graceful stop request to a running agent: the console break to its
// process group on Windows, SIGTERM to its process group on Linux. Returns whether
// the request was delivered. Safe to call from any thread, also after the child ended.
using StopRequestSender = std::function<bool()>;

// A started child process, owned by one watcher.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;

  // The process id that the child itself reports (0 if the platform gave none).
  virtual std::uint32_t pid() const = 0;

  virtual StopRequestSender stop_request_sender() const = 0;

  // Blocks until the child has ended (returns no index) or one of `wake` is
  // raised (returns the index of a raised one). Both ready: either answer.
  virtual Result<std::optional<std::size_t>> wait_exit_or(
      std::span<const WakeEvent* const> wake) = 0;

  // Ends the child at once; it is then reported as exit code 1 unless it had
  // already ended. Failures are ignored.
  virtual void terminate() = 0;

  // Blocks until the child has ended and returns how.
  virtual Result<ExitStatus> wait_exit() = 0;
};

// What the contained start needs of the agent's launch.
struct AgentCommand {
  std::filesystem::path program;
  std::vector<std::string> arguments;               // after the program name, UTF-8
  std::vector<EnvironmentVariable> environment;      // the complete environment
  std::filesystem::path working_directory;
  File output;                                       // stdout gets a duplicate, stderr this one
};

// Starts the agent contained, so that its descendants end when it ends (and not
// when the tray ends), as the leader of a new process group, with standard input
// from the null device and no other handle or descriptor inherited. Windows: a
// job object with kill-on-close, created suspended and resumed once inside it,
// without a console window. Linux: a keeper process between tray and agent.
Result<std::unique_ptr<ChildProcess>> spawn_contained(AgentCommand command);

}  // namespace tallow::platform
