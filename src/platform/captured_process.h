#pragma once
// Running a program to its end with both of its output streams captured: the way the
// tray asks the agent to do one job and hears its answer.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/environment.h"
#include "platform/process.h"

namespace tallow::platform {

struct CaptureCommand {
  std::filesystem::path program;
  std::vector<std::string> arguments;            // after the program name, UTF-8
  std::vector<EnvironmentVariable> environment;  // the complete environment
};

struct CaptureLimits {
  std::chrono::nanoseconds time_limit;  // measured on a monotonic clock from the start
  std::size_t kept_bytes;               // per stream; whatever follows is read and dropped
};

// How a started program's run ended.
struct CapturedRun {
  enum class End { exited, timed_out, woken };
  End end = End::exited;
  // `exited` only: how it ended and what it wrote (at most `kept_bytes` of each stream).
  ExitStatus exit_status;
  std::string output;
  std::string error_output;
  // `woken` only: the index of the event that was raised.
  std::size_t woken_by = 0;
};

// Starts `command` in this process's working directory, with standard input from the
// null device and no other handle or descriptor inherited but two pipes, one for its
// standard output and one for its standard error. Windows: without a console window.
// Linux: as the leader of a new process group.
//
// Both pipes are read at the same time while the program runs, so it never blocks on
// one while the other is being waited for. The run is over when the program has exited
// and both pipes have reached their end; or when `time_limit` has passed, or one of
// `wake` is raised, before that. In the last two cases the program (on Linux its whole
// process group) is killed, and what it wrote is dropped. The program is always reaped
// before this returns.
//
// An error when the program cannot be started, or when reading or waiting fails (the
// program is then killed too).
Result<CapturedRun> run_captured(const CaptureCommand& command, const CaptureLimits& limits,
                                 std::span<const WakeEvent* const> wake);

// Appends to `kept` as much of `bytes` as fits below `limit`; the rest is dropped.
inline void append_capped(std::string& kept, const char* bytes, std::size_t size,
                          std::size_t limit) {
  if (kept.size() < limit) kept.append(bytes, std::min(size, limit - kept.size()));
}

}  // namespace tallow::platform
