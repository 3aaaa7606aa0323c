// The tray's side of the keeper (see keeper.h): starting it, waiting for it, and the
// commands sent to it. The tray never signals a pid itself; only the keeper does, and
// only while the agent is unreaped, so a reused pid can never be hit.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/os_error.h"
#include "platform/posix/process/descriptors.h"
#include "platform/posix/process/exec_image.h"
#include "platform/posix/process/keeper.h"
#include "platform/process.h"

namespace tallow::platform {
namespace {

using posix::ChildRecord;
using posix::fd_of;

// Sends one command byte to the keeper; false when it did not take it (it is gone).
bool send_command(const File& control, char command) {
  for (;;) {
    const ssize_t sent = ::send(fd_of(control), &command, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == 1) return true;
    if (sent < 0 && errno == EINTR) continue;
    return false;
  }
}

// Blocks until the keeper has ended and reaps it. Absent when it was reaped elsewhere
// (or SIGCHLD is ignored, which reaps it automatically).
Result<std::optional<siginfo_t>> reap_keeper(const File& keeper_pidfd, bool block) {
  for (;;) {
    siginfo_t info{};
    const int options = WEXITED | (block ? 0 : WNOHANG);
    if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(keeper_pidfd.native()), &info, options) == 0) {
      return info.si_pid == 0 ? std::nullopt : std::optional<siginfo_t>{info};  // 0: still running
    }
    if (errno == EINTR) continue;
    if (errno == ECHILD) return std::optional<siginfo_t>{};
    return last_os_error();
  }
}

std::optional<ExitStatus> exit_status(bool exited, bool signaled, int value) {
  if (exited) return ExitStatus{ExitStatus::Kind::code, static_cast<std::uint32_t>(value)};
  if (signaled) return ExitStatus{ExitStatus::Kind::signal, static_cast<std::uint32_t>(value)};
  return std::nullopt;
}

std::optional<ExitStatus> status_of_record(const ChildRecord& record) {
  return exit_status(record.kind == posix::kRecordExited, record.kind == posix::kRecordSignaled, record.value);
}

std::optional<ExitStatus> status_of_wait(const siginfo_t& info) {
  const bool signaled = info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED;
  return exit_status(info.si_code == CLD_EXITED, signaled, info.si_status);
}

class ContainedChild final : public ChildProcess {
 public:
  ContainedChild(pid_t agent, File keeper_pidfd, File status, std::shared_ptr<const File> control)
      : agent_(agent), keeper_pidfd_(std::move(keeper_pidfd)), status_(std::move(status)),
        control_(std::move(control)) {}

  // The agent and the keeper run on: the tray may be shutting down while the agent
  // stays. Closing the control socket only tells the keeper no commands will follow.
  ~ContainedChild() override {
    if (!exit_status_) (void)reap_keeper(keeper_pidfd_, false);
  }

  std::uint32_t pid() const override { return static_cast<std::uint32_t>(agent_); }

  StopRequestSender stop_request_sender() const override {
    return [control = control_] { return send_command(*control, posix::kGracefulStop); };
  }

  Result<std::optional<std::size_t>> wait_exit_or(std::span<const WakeEvent* const> wake) override {
    if (exit_status_) return std::optional<std::size_t>{};
    std::vector<struct pollfd> watched;
    watched.reserve(wake.size() + 1);
    watched.push_back({fd_of(keeper_pidfd_), POLLIN, 0});
    for (const WakeEvent* event : wake) {
      watched.push_back({static_cast<int>(event->native()), POLLIN, 0});
    }
    for (;;) {
      if (::poll(watched.data(), watched.size(), -1) >= 0) break;
      if (errno != EINTR && errno != EAGAIN) return last_os_error();
    }
    if (watched[0].revents != 0) return std::optional<std::size_t>{};
    for (std::size_t i = 1; i < watched.size(); ++i) {
      if (watched[i].revents & POLLIN) return std::optional<std::size_t>{i - 1};
    }
    return std::optional<std::size_t>{};  // an error condition on a event: unreachable
  }

  void terminate() override {
    if (!exit_status_) (void)send_command(*control_, posix::kForcedStop);
  }

  Result<ExitStatus> wait_exit() override {
    if (exit_status_) return *exit_status_;
    auto keeper = reap_keeper(keeper_pidfd_, true);
    if (!keeper) return keeper.error();

    // The keeper wrote its final record before ending, so it is in the pipe already;
    // the read must not wait for some other forked copy still holding the write end.
    std::optional<ExitStatus> status;
    ::fcntl(fd_of(status_), F_SETFL, O_NONBLOCK);
    ChildRecord records[2];
    const ssize_t got = posix::read_full(fd_of(status_), records, sizeof records);
    const std::size_t count = got > 0 ? static_cast<std::size_t>(got) / sizeof(ChildRecord) : 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (auto from_record = status_of_record(records[i])) status = from_record;
    }
    // A keeper that died without its record (killed from outside) took the agent
    // with it (the agent's parent-death signal); its own end is what is known.
    if (!status && keeper.value()) status = status_of_wait(*keeper.value());
    if (!status) return Error{"The agent's keeper process ended without a report"};
    exit_status_ = status;
    return *status;
  }

 private:
  pid_t agent_;
  File keeper_pidfd_;
  File status_;
  std::shared_ptr<const File> control_;
  std::optional<ExitStatus> exit_status_;
};

struct Channels {
  posix::Pipe status;
  File control_tray, control_keeper;
  File null_device;
};

Result<Channels> open_channels() {
  Channels channels;
  auto status = posix::open_pipe();
  if (!status) return status.error();
  channels.status = std::move(status).value();
  int control[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control) != 0) return last_os_error();
  channels.control_tray = File(control[0]);
  channels.control_keeper = File(control[1]);
  const int null_device = ::open("/dev/null", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (null_device < 0) return last_os_error();
  channels.null_device = File(null_device);
  return channels;
}

}  // namespace

Result<std::unique_ptr<ChildProcess>> spawn_contained(AgentCommand command) {
  posix::ExecImage image;
  const auto prepared =
      image.prepare(command.program, command.arguments, &command.environment, command.working_directory);
  if (!prepared) return prepared.error();

  auto channels = open_channels();
  if (!channels) return channels.error();
  // Without an output the agent writes into the null device rather than into
  // whatever the tray's own descriptors 1 and 2 happen to be.
  const File& output = command.output.valid() ? command.output : channels->null_device;
  const posix::KeeperPlan plan{&image, fd_of(channels->null_device), fd_of(output),
                               fd_of(channels->status.write), fd_of(channels->control_keeper)};
  const pid_t keeper = posix::fork_with_signals_blocked([&plan] { posix::run_keeper(plan); });
  if (keeper < 0) return last_os_error();
  channels->status.write.reset();
  channels->control_keeper.reset();
  command.output.reset();

  File keeper_pidfd = posix::open_pidfd(keeper);
  if (!keeper_pidfd.valid()) {
    const Error error = last_os_error();
    // Unable to watch it, so have it end the agent, then wait for it.
    (void)send_command(channels->control_tray, posix::kForcedStop);
    channels->control_tray.reset();
    posix::wait_for(keeper, nullptr);
    return error;
  }

  ChildRecord first;
  const ssize_t got = posix::read_full(fd_of(channels->status.read), &first, sizeof first);
  if (got == static_cast<ssize_t>(sizeof first) && first.kind == posix::kRecordStarted) {
    return std::unique_ptr<ChildProcess>(
        std::make_unique<ContainedChild>(first.value, std::move(keeper_pidfd), std::move(channels->status.read),
                                         std::make_shared<const File>(std::move(channels->control_tray))));
  }

  auto keeper_end = reap_keeper(keeper_pidfd, true);
  if (got == static_cast<ssize_t>(sizeof first) && first.kind == posix::kRecordFailed) {
    return os_error(static_cast<std::uint32_t>(first.value));
  }
  std::string message = "The agent's keeper process ended unexpectedly";
  if (keeper_end && keeper_end.value()) {
    if (auto status = status_of_wait(*keeper_end.value())) {
      message += status->kind == ExitStatus::Kind::code ? " with exit code " : " by signal ";
      message += std::to_string(status->value);
    }
  }
  return Error{message};
}

}  // namespace tallow::platform
