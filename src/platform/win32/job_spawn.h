#pragma once
// Starting a child inside a job object of its own.

#include <windows.h>

#include <memory>

#include "common/result.h"
#include "platform/process.h"

namespace tallow::platform::win32 {

// Starts `command` suspended, without a window, as a new process group, places it in
// a fresh kill-on-close job whose only handle then lives in the child itself, and
// resumes it. `extra_flags` are added to the creation flags. No suspended process is
// left behind on any failure.
Result<std::unique_ptr<ChildProcess>> spawn_in_job(AgentCommand command, DWORD extra_flags);

}  // namespace tallow::platform::win32
