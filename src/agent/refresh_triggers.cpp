#include "agent/refresh_triggers.h"

#include "agent/state_files.h"

namespace tallow {

RefreshCall refresh_call(const platform::StateDirectoryEvent& event) {
  using Change = platform::StateDirectoryChange;
  switch (event.change) {
    case Change::directory_appeared:
    case Change::directory_gone:
    case Change::events_lost:
      return RefreshCall::now;
    case Change::opened:
    case Change::closed_unwritten:
      // Only the lock file reports these; the tray's own readers open the JSON files.
      return event.name == kLockFileName && !event.by_own_probe ? RefreshCall::once_the_lock_settles
                                                                : RefreshCall::none;
    case Change::created:
    case Change::written:
    case Change::moved_in:
    case Change::moved_out:
    case Change::removed:
      if (event.name == kConfigFileName || event.name == kStatusFileName) return RefreshCall::now;
      // Written means closed after writing: an agent's read-write descriptor, never the probe's.
      if (event.name == kLockFileName) return RefreshCall::once_the_lock_settles;
      return RefreshCall::none;
  }
  return RefreshCall::none;
}

}  // namespace tallow
