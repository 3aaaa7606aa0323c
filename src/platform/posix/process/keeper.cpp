#include "platform/posix/process/keeper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/process/child_sweep.h"
#include "platform/posix/process/descriptors.h"

namespace tallow::platform::posix {
namespace {

// The keeper's own descriptors once it has settled: the agent's standard streams,
// which the agent inherits, and the two channels to the tray.
constexpr int kStatusFd = 3;
constexpr int kControlFd = 4;

[[noreturn]] void fail(int status_fd, int error) noexcept {
  write_record(status_fd, kRecordFailed, error);
  ::_exit(0);
}

[[noreturn]] void become_agent(const KeeperPlan& plan, pid_t keeper, int report_fd) noexcept {
  // Should the keeper itself be killed, the agent goes too rather than running on
  // unwatched while the tray believes it ended.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != keeper) ::_exit(127);
  exec_prepared({plan.agent, 0, 1, 2, report_fd, true});
}

struct AgentEnd {
  int wait_status = 0;
  bool forced = false;
};

// Reaps every child that has ended; true once the agent is among them.
bool reap_ended_children(pid_t agent, AgentEnd& end) noexcept {
  bool agent_reaped = false;
  for (;;) {
    int status = 0;
    const pid_t reaped = ::waitpid(-1, &status, WNOHANG);
    if (reaped == agent) {
      end.wait_status = status;
      agent_reaped = true;
    }
    if (reaped == 0 || (reaped < 0 && errno != EINTR)) return agent_reaped;
  }
}

// Waits for the agent's end, serving the tray's commands meanwhile. Descendants that
// end earlier are reaped on the way so they do not linger as zombies.
AgentEnd watch_agent(pid_t agent, int child_events) noexcept {
  AgentEnd end;
  struct pollfd watched[2] = {{child_events, POLLIN, 0}, {kControlFd, POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(watched, 2, -1);
    if (ready < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      wait_for(agent, &end.wait_status);  // cannot watch any more: just wait for the agent
      return end;
    }

    if (watched[1].revents != 0) {
      char commands[64];
      const ssize_t got = ::read(kControlFd, commands, sizeof commands);
      if (got > 0) {
        // The agent is not reaped yet (that happens below), so its pid and group id
        // cannot have been reused by a stranger.
        for (ssize_t i = 0; i < got; ++i) {
          if (commands[i] == kGracefulStop) {
            ::kill(-agent, SIGTERM);
          } else if (commands[i] == kForcedStop) {
            ::kill(agent, SIGKILL);
            end.forced = true;
          }
        }
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        // The tray is gone: no more commands, the agent runs on.
        ::close(kControlFd);
        watched[1].fd = -1;
      }
    }

    if (watched[0].revents != 0) {
      struct signalfd_siginfo pending[4];
      while (::read(child_events, pending, sizeof pending) > 0) {
      }
      if (reap_ended_children(agent, end)) return end;
    }
  }
}

}  // namespace

[[noreturn]] void run_keeper(const KeeperPlan& plan) noexcept {
  // Every signal is still blocked (the tray blocked them around fork), so none of the
  // tray's handlers can run here. A hang-up of the tray's terminal and a write to a
  // vanished reader must not end the keeper.
  reset_signal_dispositions();
  ::signal(SIGHUP, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);

  // Settle the descriptors first so failures can be reported; this also drops every
  // descriptor of the tray (sockets, lock files) that the keeper must not hold open.
  int status = ::fcntl(plan.status_fd, F_DUPFD_CLOEXEC, 5);
  if (status < 0) fail(plan.status_fd, errno);
  const int sources[5] = {plan.null_fd, plan.output_fd, plan.output_fd, status, plan.control_fd};
  if (const int error = place_descriptors(sources, 5, kStatusFd); error != 0) fail(status, error);

  // Its own process group keeps a terminal's Ctrl+C to the tray's group away from it.
  if (::setpgid(0, 0) != 0) fail(kStatusFd, errno);
  if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) fail(kStatusFd, errno);
  ::prctl(PR_SET_NAME, "tallow-keeper");

  // Child ends arrive through a signalfd, so one poll serves them and the tray.
  sigset_t child_signal;
  sigemptyset(&child_signal);
  sigaddset(&child_signal, SIGCHLD);
  ::sigprocmask(SIG_SETMASK, &child_signal, nullptr);
  const int child_events = ::signalfd(-1, &child_signal, SFD_CLOEXEC | SFD_NONBLOCK);
  if (child_events < 0) fail(kStatusFd, errno);

  int exec_report[2];
  if (::pipe2(exec_report, O_CLOEXEC) != 0) fail(kStatusFd, errno);
  const pid_t keeper = ::getpid();
  // _Fork: the plain fork would run the process's fork handlers, which are not
  // async-signal-safe.
  const pid_t agent = ::_Fork();
  if (agent < 0) fail(kStatusFd, errno);
  if (agent == 0) {
    ::close(exec_report[0]);
    become_agent(plan, keeper, exec_report[1]);
  }
  ::close(exec_report[1]);

  // The report pipe closes on a successful execve; otherwise it carries the errno.
  ChildRecord exec_failure;
  const ssize_t got = read_full(exec_report[0], &exec_failure, sizeof exec_failure);
  ::close(exec_report[0]);
  if (got == static_cast<ssize_t>(sizeof exec_failure)) {
    wait_for(agent, nullptr);
    fail(kStatusFd, exec_failure.value);
  }
  write_record(kStatusFd, kRecordStarted, agent);

  const AgentEnd end = watch_agent(agent, child_events);
  end_all_children();

  const int ended = end.wait_status;
  if (!WIFSIGNALED(ended)) {
    write_record(kStatusFd, kRecordExited, WEXITSTATUS(ended));
  } else if (end.forced && WTERMSIG(ended) == SIGKILL) {
    // A forced stop is reported the way the Windows build reports TerminateProcess.
    write_record(kStatusFd, kRecordExited, 1);
  } else {
    write_record(kStatusFd, kRecordSignaled, WTERMSIG(ended));
  }
  ::_exit(0);
}

}  // namespace tallow::platform::posix
