#pragma once
// A program launch prepared in the parent, so that the forked child only has to hand
// ready-made arrays to execve (nothing may allocate after fork in a threaded process).

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/environment.h"
#include "platform/file.h"

namespace tallow::platform::posix {

class ExecImage {
 public:
  ExecImage() = default;
  ExecImage(const ExecImage&) = delete;
  ExecImage& operator=(const ExecImage&) = delete;

  // Fills the image: argv[0] is the program path, made absolute. Without `environment`, the child
  // gets a copy of this process's environment. An empty `directory` keeps the current
  // one. Text holding a NUL byte cannot reach execve and is refused.
  Result<void> prepare(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                       const std::vector<EnvironmentVariable>* environment, const std::filesystem::path& directory);

  const char* program() const { return program_.c_str(); }
  char* const* argv() const { return argv_.data(); }
  char* const* envp() const { return envp_.data(); }
  const char* directory() const { return directory_.empty() ? nullptr : directory_.c_str(); }

 private:
  std::string program_;
  std::string directory_;
  std::vector<std::string> arguments_;
  std::vector<std::string> environment_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

// Where a forked child's standard streams come from and where it reports failure.
struct ExecPlan {
  const ExecImage* image = nullptr;
  int stdin_fd = -1;
  int stdout_fd = -1;
  int stderr_fd = -1;
  int report_fd = -1;  // gets a kRecordFailed record if the program cannot be started
  bool own_group = false;  // a process group of its own, which can be ended whole
};

// In a forked child: enters a group of its own if asked, resets signal dispositions,
// installs the standard streams, closes every other descriptor, empties the signal mask,
// enters the directory and execs. On failure writes the errno to plan.report_fd and
// exits with 127. Async-signal-safe.
[[noreturn]] void exec_prepared(const ExecPlan& plan) noexcept;

// Blocks every signal in the calling thread while alive. Around fork, it keeps the
// parent's handlers from running in the child before the child has reset them.
class AllSignalsBlocked {
 public:
  AllSignalsBlocked();
  ~AllSignalsBlocked();
  AllSignalsBlocked(const AllSignalsBlocked&) = delete;
  AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

// fork() with every signal blocked around it; the child runs `child`, which never
// returns. The parent gets the pid, or -1 with errno set.
template <typename Child>
pid_t fork_with_signals_blocked(Child&& child) {
  AllSignalsBlocked blocked;  // restores errno as it ends
  const pid_t pid = ::fork();
  if (pid == 0) child();
  return pid;
}

struct Pipe {
  File read;
  File write;
};
Result<Pipe> open_pipe();

// A pidfd for the child `pid`, not yet reaped (so the pid names it); invalid on failure.
File open_pidfd(pid_t pid);

}  // namespace tallow::platform::posix
