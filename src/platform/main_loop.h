#pragma once
// The main thread's loop, on both platforms: dispatching the events waiting for it (window
// messages on Windows; the events of GLib's default main context on Linux: the session
// bus, signals, GTK's windows), waiting for more, and waking that wait from elsewhere.

#include <chrono>

namespace tallow::platform {

enum class PumpResult { drained, quit };

// Dispatches every event waiting for this thread (Windows messages translated first),
// until none is left. Returns `quit` as soon as a quit is taken; the rest stay queued.
PumpResult dispatch_pending_events();

// A wait that only an event ends.
inline constexpr std::chrono::milliseconds kUnboundedInputWait = std::chrono::milliseconds::max();

// Returns when an event arrives for the main thread or after `limit`, whichever is
// first; kUnboundedInputWait waits for an event alone. Called on the main thread.
void wait_for_events(std::chrono::milliseconds limit);

// Ends a wait_for_events under way on the main thread, or the next one if none
// is: callable from any thread, for news the main thread would otherwise not hear of.
// Linux: wakes GLib's default main context. Windows: nothing (see below).
void wake_main_loop();

// Whether the wait ends by itself when something the tray shows changes: the theme,
// Launch at Login while an AutostartWatch lives, and whatever wake_main_loop is called
// for. Linux: yes (the desktop portal's signal, the XEmbed tray's drawing, the
// autostart directory's watch and the wake all reach the main context). Windows: no;
// the theme and the Run value are registry values that tell nobody, so the tray bounds
// its wait and reads them again after it, and finds the supervisor's news then too.
bool changes_wake_main_loop();

}  // namespace tallow::platform
