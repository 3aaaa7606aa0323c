// The StatusNotifierWatcher of a panel without a notification area, for
// tests/desktop/host_matrix.sh: it takes items' registrations but has no host until
// SIGUSR1, when one registers, as when a panel with a notification area starts later.
// Serves DBUS_SESSION_BUS_ADDRESS until SIGTERM.

#include "helpers/posix/stand_in_signals.h"
#include "support/posix/session_bus_fixture.h"

int main() {
  const sigset_t signals = tallow::test::block_stand_in_signals();
  tallow::test::TestWatcher watcher(tallow::test::session_bus_address(), false);
  while (tallow::test::next_change_asked(signals)) watcher.register_host();
  return 0;
}
