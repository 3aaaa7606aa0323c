#include "platform/posix/process/descriptors.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace tallow::platform::posix {
namespace {

constexpr int kMaxPlacedDescriptors = 8;

void close_descriptors_from(int first) noexcept {
  // close_range needs Linux 5.9; the loop covers older kernels.
  if (::syscall(SYS_close_range, static_cast<unsigned>(first), ~0U, 0U) == 0) return;
  int limit = 65536;
  struct rlimit rl;
  if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
    limit = rl.rlim_cur > (1U << 20) ? (1 << 20) : static_cast<int>(rl.rlim_cur);
  }
  for (int fd = first; fd < limit; ++fd) ::close(fd);
}

}  // namespace

bool write_all(int fd, const void* data, std::size_t size) noexcept {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

ssize_t read_full(int fd, void* data, std::size_t size) noexcept {
  char* bytes = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, bytes + done, size - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? static_cast<ssize_t>(done) : -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

void write_record(int fd, RecordKind kind, std::int32_t value) noexcept {
  const ChildRecord record{kind, value};
  const int saved = errno;
  write_all(fd, &record, sizeof record);
  errno = saved;
}

void fail_child(int fd, int error) noexcept {
  write_record(fd, kRecordFailed, error);
  ::_exit(127);
}

pid_t wait_for(pid_t pid, int* status) noexcept {
  pid_t reaped;
  while ((reaped = ::waitpid(pid, status, 0)) < 0 && errno == EINTR) {
  }
  return reaped;
}

int place_descriptors(const int* sources, int count, int first_close_on_exec) noexcept {
  if (count > kMaxPlacedDescriptors) return EINVAL;
  // Copies land at `count` or above, so writing the targets below cannot clobber them.
  int copies[kMaxPlacedDescriptors];
  for (int i = 0; i < count; ++i) {
    copies[i] = ::fcntl(sources[i], F_DUPFD_CLOEXEC, count);
    if (copies[i] < 0) {
      const int error = errno;
      for (int j = 0; j < i; ++j) ::close(copies[j]);
      return error;
    }
  }
  for (int i = 0; i < count; ++i) {
    if (::dup3(copies[i], i, i >= first_close_on_exec ? O_CLOEXEC : 0) < 0) {
      const int error = errno;
      for (int j = 0; j < count; ++j) ::close(copies[j]);
      return error;
    }
  }
  close_descriptors_from(count);
  return 0;
}

void reset_signal_dispositions() noexcept {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    ::sigaction(sig, &action, nullptr);  // glibc refuses its reserved signals: fine
  }
}

}  // namespace tallow::platform::posix
