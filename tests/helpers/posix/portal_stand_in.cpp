// The desktop portal of a desktop whose user switches between dark and light, for
// bench/desktop_benchmark.sh: it serves the colour scheme (dark at first) on
// DBUS_SESSION_BUS_ADDRESS, switches it on each SIGUSR1, and ends on SIGTERM.

#include "helpers/posix/stand_in_signals.h"
#include "support/posix/session_bus_fixture.h"

int main() {
  const sigset_t signals = tallow::test::block_stand_in_signals();
  tallow::test::TestPortal portal(tallow::test::session_bus_address(), /*light=*/false);
  bool light = false;
  while (tallow::test::next_change_asked(signals)) portal.set_light(light = !light);
  return 0;
}
