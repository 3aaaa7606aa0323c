// What the bus stand-in programs share: SIGUSR1 asks each for its one change of state,
// SIGTERM ends it, and both are taken by sigwait alone.
#pragma once

#include <signal.h>

#include <cstdlib>
#include <string>

namespace tallow::test {

// Call before the stand-in's bus thread starts: the thread inherits the mask, so
// neither signal is delivered to it instead of to next_change_asked.
inline sigset_t block_stand_in_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

// Waits for the next signal: true for SIGUSR1, false once the stand-in should end.
inline bool next_change_asked(const sigset_t& signals) {
  int signal = 0;
  return sigwait(&signals, &signal) == 0 && signal == SIGUSR1;
}

inline std::string session_bus_address() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return address ? address : "";
}

}  // namespace tallow::test
