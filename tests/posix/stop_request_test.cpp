// SIGTERM and SIGINT become the stop-request notification. Run in forked children, so
// the handlers and the raised notification stay out of this test process.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "agent_side/agent_side.h"
#include "platform/process.h"

namespace tallow::platform {
namespace {

using namespace std::chrono_literals;

// Runs `body` in a forked child and returns its exit code (-1 if it did not exit).
template <typename Body>
int in_child(Body body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PosixStopRequest, InstalledOnceAndSharedByEveryCaller) {
  EXPECT_EQ(in_child([] {
              auto first = tallow::agent_side::stop_request_event();
              auto second = tallow::agent_side::stop_request_event();
              if (!first || !second) return 2;
              if (first.value() != second.value()) return 3;
              return first.value()->is_raised() ? 4 : 0;
            }),
            0);
}

TEST(PosixStopRequest, EachSignalRaisesItAndTheProcessLivesOn) {
  for (const int signal : {SIGTERM, SIGINT}) {
    EXPECT_EQ(in_child([signal] {
                auto stop = tallow::agent_side::stop_request_event();
                if (!stop) return 2;
                if (::kill(::getpid(), signal) != 0) return 3;
                if (!stop.value()->wait_for(20s)) return 4;
                // A second request changes nothing; the process is still here.
                ::kill(::getpid(), signal);
                return stop.value()->is_raised() ? 0 : 5;
              }),
              0)
        << signal;
  }
}

TEST(PosixStopRequest, HandlersRestartInterruptedCalls) {
  EXPECT_EQ(in_child([] {
              if (!tallow::agent_side::stop_request_event()) return 2;
              for (const int signal : {SIGTERM, SIGINT}) {
                struct sigaction current {};
                if (::sigaction(signal, nullptr, &current) != 0) return 3;
                if (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN) return 4;
                if ((current.sa_flags & SA_RESTART) == 0) return 5;
              }
              return 0;
            }),
            0);
}

}  // namespace
}  // namespace tallow::platform
