#pragma once
// Ending the main thread's loop from inside a dispatch: what PostQuitMessage is on Windows.

namespace tallow::platform::posix {

// The main thread's next message dispatch reports `quit` (and takes it); until then its
// waits end at once.
void post_loop_quit();
bool loop_quit_posted();

}  // namespace tallow::platform::posix
