// The desktop portal of a desktop whose user switches between dark and light, for
// bench/desktop_benchmark.sh: it serves the colour scheme (dark at first) on
// DBUS_SESSION_BUS_ADDRESS, switches it on each SIGUSR1, and ends on SIGTERM.

#include <signal.h>

#include <cstdlib>

#include "support/posix/session_bus_fixture.h"

int main() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGTERM);
  // Blocked before the portal's thread starts, which inherits the mask, so that only
  // sigwait takes them.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  tallow::test::TestPortal portal(address ? address : "", /*light=*/false);
  bool light = false;
  int signal = 0;
  while (sigwait(&signals, &signal) == 0 && signal == SIGUSR1) portal.set_light(light = !light);
  return 0;
}
