#pragma once
// The keeper: a forked copy of the tray that sits between the tray and the agent. As a
// child subreaper it inherits every orphaned descendant of the agent, and once the
// agent has ended it kills whatever is left, so nothing the agent started outlives it,
// even when the tray is long gone.
//
// The keeper never execs, and the tray is multi-threaded, so the whole keeper is
// restricted to async-signal-safe calls: no allocation, no stdio, no locks.
//
// Protocol, keeper -> tray over the status pipe: ChildRecord kRecordStarted(agent pid)
// once the agent's execve succeeded, or kRecordFailed(errno) if it could not be
// started; at the very end kRecordExited(code) or kRecordSignaled(signal).
// Tray -> keeper over the control socket: one byte per command, kGracefulStop or
// kForcedStop. End of stream means the tray is gone; the agent keeps running.

#include "platform/posix/process/exec_image.h"

namespace tallow::platform::posix {

constexpr char kGracefulStop = 'T';  // SIGTERM to the agent's process group
constexpr char kForcedStop = 'K';    // SIGKILL to the agent, reported as exit code 1

struct KeeperPlan {
  const ExecImage* agent = nullptr;
  int null_fd = -1;     // the agent's standard input
  int output_fd = -1;   // the agent's standard output and error
  int status_fd = -1;   // write end of the status pipe
  int control_fd = -1;  // the keeper's end of the control socket
};

// Runs the keeper in a freshly forked child; never returns.
[[noreturn]] void run_keeper(const KeeperPlan& plan) noexcept;

}  // namespace tallow::platform::posix
