// Linux side of run_captured: fork and exec into a process group of the program's own,
// then one poll over both pipes, the program's pidfd and the wake events.

#include "platform/captured_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "platform/os_error.h"
#include "platform/posix/process/descriptors.h"
#include "platform/posix/process/exec_image.h"

namespace tallow::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadSize = 64 * 1024;  // a whole pipe buffer per read

using posix::fd_of;

// The started program until it is reaped. Whatever path leaves before that kills its
// whole group and reaps it, so no run leaves a process or a zombie behind.
class GroupLeader {
 public:
  explicit GroupLeader(pid_t pid) : pid_(pid) {}
  ~GroupLeader() {
    if (pid_ <= 0) return;
    kill_group();
    (void)reap();
  }
  GroupLeader(const GroupLeader&) = delete;
  GroupLeader& operator=(const GroupLeader&) = delete;

  pid_t pid() const { return pid_; }

  // Until the leader is reaped its pid, which is the group's id, cannot be reused, so
  // this reaches only the program and whatever it started in its group.
  void kill_group() const { ::kill(-pid_, SIGKILL); }

  Result<ExitStatus> reap() {
    int status = 0;
    const pid_t reaped = posix::wait_for(std::exchange(pid_, -1), &status);
    if (reaped < 0) return last_os_error();
    if (WIFSIGNALED(status)) return ExitStatus{ExitStatus::Kind::signal, static_cast<std::uint32_t>(WTERMSIG(status))};
    return ExitStatus{ExitStatus::Kind::code, static_cast<std::uint32_t>(WEXITSTATUS(status))};
  }

 private:
  pid_t pid_;
};

Result<std::unique_ptr<GroupLeader>> start(const posix::ExecImage& image, const File& input,
                                           const File& output, const File& error_output) {
  auto report = posix::open_pipe();
  if (!report) return report.error();
  // A group of its own, so that giving up on the program can end whatever it started
  // along with it.
  const pid_t pid = posix::fork_with_signals_blocked([&] {
    posix::exec_prepared({&image, fd_of(input), fd_of(output), fd_of(error_output), fd_of(report->write), true});
  });
  if (pid < 0) return last_os_error();
  auto leader = std::make_unique<GroupLeader>(pid);

  // The report pipe closes when execve succeeds; before that it carries the errno of the
  // step that failed.
  report->write.reset();
  posix::ChildRecord failure;
  if (posix::read_full(fd_of(report->read), &failure, sizeof failure) == static_cast<ssize_t>(sizeof failure)) {
    (void)leader->reap();
    return os_error(static_cast<std::uint32_t>(failure.value));
  }
  return leader;
}

// One output stream of the program, read as it comes.
struct Stream {
  File fd;
  std::string kept;
};

// One read of what the pipe holds (a whole pipe buffer), so that neither stream nor a
// wake can be starved by the other; closes the stream at its end.
Result<void> read_some(Stream& stream, char* buffer, std::size_t limit) {
  const ssize_t got = ::read(fd_of(stream.fd), buffer, kReadSize);
  if (got > 0) {
    append_capped(stream.kept, buffer, static_cast<std::size_t>(got), limit);
  } else if (got == 0) {
    stream.fd.reset();
  } else if (errno != EINTR && errno != EAGAIN) {
    return last_os_error();
  }
  return {};
}

// Serves both streams until the program has exited and both have ended, the deadline
// has passed or a wake is raised; says which (the exit status is not known yet).
Result<CapturedRun> watch(const File& exit_watch, std::span<Stream, 2> streams, Clock::time_point deadline,
                          std::span<const WakeEvent* const> wake, std::size_t limit) {
  const auto buffer = std::make_unique<char[]>(kReadSize);
  bool exited = false;
  std::vector<pollfd> watched;
  CapturedRun run;
  for (;;) {
    if (exited && !streams[0].fd.valid() && !streams[1].fd.valid()) return run;
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
      run.end = CapturedRun::End::timed_out;
      return run;
    }
    // Notifications first: their indices are the wake indices.
    watched.clear();
    for (const WakeEvent* event : wake) {
      watched.push_back({static_cast<int>(event->native()), POLLIN, 0});
    }
    watched.push_back({exited ? -1 : fd_of(exit_watch), POLLIN, 0});
    for (const Stream& stream : streams) {
      watched.push_back({stream.fd.valid() ? fd_of(stream.fd) : -1, POLLIN, 0});
    }
    const auto left_ns = std::chrono::nanoseconds(left).count();
    const timespec timeout{static_cast<time_t>(left_ns / 1000000000), static_cast<long>(left_ns % 1000000000)};
    if (::ppoll(watched.data(), watched.size(), &timeout, nullptr) < 0) {
      if (errno == EINTR) continue;
      return last_os_error();
    }

    // A wake wins over whatever else is ready, so a busy program cannot delay it.
    const auto raised = std::find_if(watched.begin(), watched.begin() + wake.size(),
                                     [](const pollfd& entry) { return entry.revents != 0; });
    if (raised != watched.begin() + wake.size()) {
      run.end = CapturedRun::End::woken;
      run.woken_by = static_cast<std::size_t>(raised - watched.begin());
      return run;
    }
    if (watched[wake.size()].revents != 0) exited = true;
    for (std::size_t s = 0; s < streams.size(); ++s) {
      if (watched[wake.size() + 1 + s].revents == 0) continue;
      if (auto read = read_some(streams[s], buffer.get(), limit); !read) return read.error();
    }
  }
}

}  // namespace

Result<CapturedRun> run_captured(const CaptureCommand& command, const CaptureLimits& limits,
                                 std::span<const WakeEvent* const> wake) {
  posix::ExecImage image;
  const auto prepared = image.prepare(command.program, command.arguments, &command.environment, {});
  if (!prepared) return prepared.error();
  const int null_device = ::open("/dev/null", O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (null_device < 0) return last_os_error();
  const File input(null_device);
  auto output = posix::open_pipe();
  if (!output) return output.error();
  auto error_output = posix::open_pipe();
  if (!error_output) return error_output.error();

  // A century is as good as no limit, and keeps the deadline from overflowing.
  const auto time_limit = std::min<std::chrono::nanoseconds>(limits.time_limit, std::chrono::hours(24 * 365 * 100));
  auto started = start(image, input, output->write, error_output->write);
  if (!started) return started.error();
  const std::unique_ptr<GroupLeader> leader = std::move(started).value();
  const auto deadline = Clock::now() + time_limit;
  // Only the program holds the writing ends now, so each pipe ends when it (and
  // whatever it passed the end to) is done with it.
  output->write.reset();
  error_output->write.reset();

  Stream streams[2] = {{std::move(output->read), {}}, {std::move(error_output->read), {}}};
  for (Stream& stream : streams) ::fcntl(fd_of(stream.fd), F_SETFL, O_NONBLOCK);
  const File exit_watch = posix::open_pidfd(leader->pid());
  if (!exit_watch.valid()) return last_os_error();

  // Any failure from here on leaves through the leader, which kills the group.
  auto run = watch(exit_watch, streams, deadline, wake, limits.kept_bytes);
  if (!run) return run.error();
  if (run->end != CapturedRun::End::exited) {
    leader->kill_group();
    (void)leader->reap();
    return run;
  }
  auto status = leader->reap();
  if (!status) return status.error();
  run->exit_status = status.value();
  run->output = std::move(streams[0].kept);
  run->error_output = std::move(streams[1].kept);
  return run;
}

}  // namespace tallow::platform
