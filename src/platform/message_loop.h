#pragma once
// The calling thread's window messages: dispatching what is waiting, and waiting for more.

#include <chrono>

namespace tallow::platform {

enum class PumpResult { drained, quit };

// Dispatches every message waiting for this thread (translated first), until none is
// left. Returns `quit` as soon as a quit message is taken; the rest stay queued.
PumpResult dispatch_window_messages();

// A wait that only input ends.
inline constexpr std::chrono::milliseconds kUnboundedInputWait = std::chrono::milliseconds::max();

// Returns when input arrives for the main thread or after `limit`, whichever is first;
// kUnboundedInputWait waits for input alone. Called on the main thread.
void wait_for_window_input(std::chrono::milliseconds limit);

// Ends a wait_for_window_input under way on the main thread, or the next one if none
// is: callable from any thread, for news the main thread would otherwise not hear of.
// Linux: wakes GLib's default main context. Windows: nothing (see below).
void wake_window_wait();

// Whether the wait ends by itself when something the tray shows changes: the theme,
// Launch at Login while an AutostartWatch lives, and whatever wake_window_wait is called
// for. Linux: yes (the desktop portal's signal, the XEmbed tray's drawing, the
// autostart directory's watch and the wake all reach the main context). Windows: no;
// the theme and the Run value are registry values that tell nobody, so the tray bounds
// its wait and reads them again after it, and finds the supervisor's news then too.
bool changes_wake_window_wait();

}  // namespace tallow::platform
