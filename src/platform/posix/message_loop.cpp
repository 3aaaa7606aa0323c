// No window system is attached on Linux yet: there are no messages to dispatch, and
// waiting for input is only the pause between passes of the caller's loop.

#include "platform/message_loop.h"

#include <thread>

namespace tallow::platform {

PumpResult dispatch_window_messages() { return PumpResult::drained; }

void wait_for_window_input(std::chrono::milliseconds limit) { std::this_thread::sleep_for(limit); }

}  // namespace tallow::platform
