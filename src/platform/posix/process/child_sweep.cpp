#include "platform/posix/process/child_sweep.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/posix/process/descriptors.h"

namespace tallow::platform::posix {

namespace {

// Parses decimal numbers separated by anything else, across chunk boundaries.
class PidStream {
 public:
  explicit PidStream(int signal) : signal_(signal) {}

  void feed(const char* bytes, std::size_t size) noexcept {
    for (std::size_t i = 0; i < size; ++i) {
      const char c = bytes[i];
      if (c >= '0' && c <= '9') {
        if (value_ <= 0x7fffffff) value_ = value_ * 10 + static_cast<std::uint32_t>(c - '0');
        in_number_ = true;
      } else {
        finish();
      }
    }
  }

  void finish() noexcept {
    if (in_number_ && value_ > 0 && value_ <= 0x7fffffff) {
      if (::kill(static_cast<pid_t>(value_), signal_) == 0) ++signalled_;
    }
    value_ = 0;
    in_number_ = false;
  }

  int signalled() const noexcept { return signalled_; }

 private:
  int signal_;
  int signalled_ = 0;
  std::uint64_t value_ = 0;
  bool in_number_ = false;
};

}  // namespace

// Linux 3.5 and later with CONFIG_PROC_CHILDREN.
int signal_listed_children(int signal) noexcept {
  char path[64] = "/proc/self/task/";
  std::size_t length = std::strlen(path);
  length += format_decimal(static_cast<std::uint32_t>(::getpid()), path + length);
  std::memcpy(path + length, "/children", sizeof "/children");

  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  PidStream pids(signal);
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    pids.feed(buffer, static_cast<std::size_t>(got));
  }
  pids.finish();
  ::close(fd);
  return pids.signalled();
}

namespace {

// The parent pid in the text of /proc/<pid>/stat, or -1. The command name in
// parentheses may hold anything, so parsing starts after the last ')'.
long parent_in_stat(const char* text, std::size_t size) noexcept {
  std::size_t close = size;
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] == ')') close = i;
  }
  // ") S 1234 ..."
  std::size_t i = close + 1;
  if (i + 3 >= size || text[i] != ' ' || text[i + 2] != ' ') return -1;
  i += 3;
  long parent = 0;
  bool any = false;
  for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i) {
    parent = parent * 10 + (text[i] - '0');
    any = true;
    if (parent > 0x7fffffff) return -1;
  }
  return any ? parent : -1;
}

struct LinuxDirent64 {
  std::uint64_t d_ino;
  std::int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

}  // namespace

int signal_scanned_children(int signal) noexcept {
  const int directory = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return 0;
  int signalled = 0;
  const long self = ::getpid();
  alignas(8) char entries[4096];
  for (;;) {
    const long got = ::syscall(SYS_getdents64, directory, entries, sizeof entries);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (long offset = 0; offset < got;) {
      const auto* entry = reinterpret_cast<const LinuxDirent64*>(entries + offset);
      offset += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] < '1' || name[0] > '9') continue;
      char path[48] = "/proc/";
      std::size_t length = 6;
      std::size_t name_length = std::strlen(name);
      if (name_length > 10) continue;
      std::memcpy(path + length, name, name_length);
      length += name_length;
      std::memcpy(path + length, "/stat", sizeof "/stat");

      const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      char stat[512];
      const ssize_t size = read_full(fd, stat, sizeof stat);
      ::close(fd);
      if (size <= 0 || parent_in_stat(stat, static_cast<std::size_t>(size)) != self) continue;
      long pid = 0;
      for (const char* c = name; *c >= '0' && *c <= '9'; ++c) pid = pid * 10 + (*c - '0');
      if (::kill(static_cast<pid_t>(pid), signal) == 0) ++signalled;
    }
  }
  ::close(directory);
  return signalled;
}

int signal_all_children(int signal) noexcept {
  const int listed = signal_listed_children(signal);
  return listed >= 0 ? listed : signal_scanned_children(signal);
}

void end_all_children() noexcept {
  for (;;) {
    const int signalled = signal_all_children(SIGKILL);
    // With a child signalled, one of them is about to end, so the wait is bounded.
    // Otherwise only ended ones are reaped: the listing can miss a child that is
    // being orphaned at this very moment, and that one is found in a later round.
    int status = 0;
    pid_t reaped = ::waitpid(-1, &status, signalled > 0 ? 0 : WNOHANG);
    if (reaped < 0) {
      if (errno == EINTR) continue;
      return;  // ECHILD: nothing is left
    }
    if (reaped == 0) {
      const struct timespec pause {0, 1000000};
      ::nanosleep(&pause, nullptr);
      continue;
    }
    while (::waitpid(-1, &status, WNOHANG) > 0) {
    }
  }
}

}  // namespace tallow::platform::posix
