// Finding and ending every child, the keeper's last duty. Each case runs in a forked
// child subreaper, so only its own children are at stake.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "platform/posix/process/child_sweep.h"

namespace tallow::platform::posix {
namespace {

// Runs `body` in a forked child and returns its exit code (-1 if it did not exit).
template <typename Body>
int in_child(Body body) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) ::_exit(100);
    ::_exit(body());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

[[noreturn]] void idle_forever() {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  for (;;) ::pause();
}

// Starts `count` idle children and waits until each has started.
bool start_idle_children(int count) {
  int started[2];
  if (::pipe(started) != 0) return false;
  for (int i = 0; i < count; ++i) {
    if (::fork() == 0) {
      (void)!::write(started[1], "x", 1);
      idle_forever();
    }
  }
  char byte;
  bool all = true;
  for (int i = 0; i < count; ++i) all = all && ::read(started[0], &byte, 1) == 1;
  ::close(started[0]);
  ::close(started[1]);
  return all;
}

// Reaps `count` children and checks that SIGKILL ended each.
bool reap_killed(int count) {
  for (int i = 0; i < count; ++i) {
    int status = 0;
    if (::waitpid(-1, &status, 0) <= 0 || !WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) {
      return false;
    }
  }
  return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

TEST(PosixChildSweep, BothWaysOfFindingChildrenSignalEachOnce) {
  using Finder = int (*)(int) noexcept;
  for (const Finder find : {Finder{&signal_listed_children}, Finder{&signal_scanned_children}}) {
    EXPECT_EQ(in_child([find] {
                if (find(SIGKILL) != 0) return 2;  // no children yet
                if (!start_idle_children(3)) return 3;
                if (find(SIGKILL) != 3) return 4;
                return reap_killed(3) ? 0 : 5;
              }),
              0);
  }
}

TEST(PosixChildSweep, EndsChildrenAndTheOrphansTheyLeave) {
  EXPECT_EQ(in_child([] {
              int pids[2];
              if (::pipe(pids) != 0) return 2;
              // A middle process leaves a child, which has a child of its own: once the
              // middle one is gone, the first is ours, and the second becomes ours only
              // when the first is killed.
              const pid_t middle = ::fork();
              if (middle == 0) {
                if (::fork() == 0) {
                  if (::fork() == 0) {
                    const pid_t self = ::getpid();
                    (void)!::write(pids[1], &self, sizeof self);
                    for (;;) ::pause();  // no parent-death signal: it must be found
                  }
                  const pid_t self = ::getpid();
                  (void)!::write(pids[1], &self, sizeof self);
                  for (;;) ::pause();
                }
                ::_exit(0);
              }
              if (::waitpid(middle, nullptr, 0) != middle) return 3;
              pid_t descendants[2];
              if (::read(pids[0], &descendants[0], sizeof(pid_t)) != sizeof(pid_t) ||
                  ::read(pids[0], &descendants[1], sizeof(pid_t)) != sizeof(pid_t)) {
                return 4;
              }
              end_all_children();
              if (::waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD) return 5;
              for (const pid_t pid : descendants) {
                if (::kill(pid, 0) == 0 || errno != ESRCH) return 6;
              }
              return 0;
            }),
            0);
}

TEST(PosixChildSweep, ReturnsAtOnceWithoutChildren) {
  EXPECT_EQ(in_child([] {
              end_all_children();
              return 0;
            }),
            0);
}

}  // namespace
}  // namespace tallow::platform::posix
