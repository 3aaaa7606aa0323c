// The StatusNotifierWatcher of a panel without a notification area, for
// tests/desktop/host_matrix.sh: it takes items' registrations but has no host until
// SIGUSR1, when one registers, as when a panel with a notification area starts later.
// Serves DBUS_SESSION_BUS_ADDRESS until SIGTERM.

#include <signal.h>

#include <cstdlib>

#include "support/posix/session_bus_fixture.h"

int main() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGTERM);
  // Blocked before the watcher's thread starts, which inherits the mask, so that only
  // sigwait takes them.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  tallow::test::TestWatcher watcher(address ? address : "", false);
  int signal = 0;
  while (sigwait(&signals, &signal) == 0 && signal == SIGUSR1) watcher.register_host();
  return 0;
}
