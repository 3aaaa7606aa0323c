#pragma once
// The calling thread's window messages: dispatching what is waiting, and waiting for more.

#include <chrono>

namespace tallow::platform {

enum class PumpResult { drained, quit };

// Dispatches every message waiting for this thread (translated first), until none is
// left. Returns `quit` as soon as a quit message is taken; the rest stay queued.
PumpResult dispatch_window_messages();

// Returns when input arrives for this thread or after `limit`, whichever is first.
void wait_for_window_input(std::chrono::milliseconds limit);

}  // namespace tallow::platform
