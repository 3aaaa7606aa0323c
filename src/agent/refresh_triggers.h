#pragma once
// Which changes in the state directory call for a status refresh, and how soon. The
// refresh reads config.json and status.json, and probes the lock file while the tray has
// no agent child; a change to anything else tells it nothing new.

#include "platform/state_directory_watch.h"

namespace tallow {

enum class RefreshCall {
  none,
  now,
  // Once the lock has had a moment to settle: an agent opens the lock file before it
  // locks it, and the kernel reports a holder's close before it releases the lock; a
  // probe at once could find the lock as it was, and could even take it for its instant
  // just when the agent tries (which then gives up).
  once_the_lock_settles,
};

// The call for one event. The tray's own opens and closes of the lock (its probe) call
// for nothing, or every refresh would call for the next.
RefreshCall refresh_call(const platform::StateDirectoryEvent& event);

}  // namespace tallow
