#include "platform/posix/process/child_sweep.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/posix/process/descriptors.h"

namespace tallow::platform::posix {
namespace {

constexpr std::uint64_t kMostPid = 0x7fffffff;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The decimal number at `text` (0 without a digit), and `text` moved past it. A number
// past kMostPid stays past it, whatever its length.
std::uint64_t parse_decimal(const char*& text, const char* end) noexcept {
  std::uint64_t value = 0;
  for (; text < end && is_digit(*text); ++text) {
    if (value <= kMostPid) value = value * 10 + static_cast<std::uint64_t>(*text - '0');
  }
  return value;
}

// 1 when `pid` can be one and took the signal, else 0.
int signal_pid(std::uint64_t pid, int signal) noexcept {
  return pid > 0 && pid <= kMostPid && ::kill(static_cast<pid_t>(pid), signal) == 0 ? 1 : 0;
}

// `prefix`, `number` in decimal and `suffix`, into `out`.
void number_path(char (&out)[64], const char* prefix, std::uint32_t number, const char* suffix) noexcept {
  std::size_t length = std::strlen(prefix);
  std::memcpy(out, prefix, length);
  char* const digits = out + length;
  do {
    out[length++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  std::reverse(digits, out + length);
  std::memcpy(out + length, suffix, std::strlen(suffix) + 1);
}

// The parent pid in the text of /proc/<pid>/stat, or 0. The command name in
// parentheses may hold anything, so parsing starts after the last ')': ") S 1234 ...".
std::uint64_t parent_in_stat(const char* text, std::size_t size) noexcept {
  std::size_t close = size;
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] == ')') close = i;
  }
  if (close + 4 >= size || text[close + 1] != ' ' || text[close + 3] != ' ') return 0;
  const char* at = text + close + 4;
  return parse_decimal(at, text + size);
}

struct LinuxDirent64 {
  std::uint64_t d_ino;
  std::int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

}  // namespace

// Linux 3.5 and later with CONFIG_PROC_CHILDREN.
int signal_listed_children(int signal) noexcept {
  char path[64];
  number_path(path, "/proc/self/task/", static_cast<std::uint32_t>(::getpid()), "/children");
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  int signalled = 0;
  // Read in chunks, a number may span two: its digits so far wait in `pid`.
  std::uint64_t pid = 0;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      if (!is_digit(buffer[i])) {
        signalled += signal_pid(std::exchange(pid, 0), signal);
      } else if (pid <= kMostPid) {
        pid = pid * 10 + static_cast<std::uint64_t>(buffer[i] - '0');
      }
    }
  }
  signalled += signal_pid(pid, signal);
  ::close(fd);
  return signalled;
}

int signal_scanned_children(int signal) noexcept {
  const int directory = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return 0;
  int signalled = 0;
  const auto self = static_cast<std::uint64_t>(::getpid());
  alignas(8) char entries[4096];
  for (;;) {
    const long got = ::syscall(SYS_getdents64, directory, entries, sizeof entries);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (long offset = 0; offset < got;) {
      const auto* entry = reinterpret_cast<const LinuxDirent64*>(entries + offset);
      offset += entry->d_reclen;
      // A process's directory is named by its pid, digits alone.
      const char* end = entry->d_name;
      const std::uint64_t pid = parse_decimal(end, entry->d_name + std::strlen(entry->d_name));
      if (*end != '\0' || pid == 0 || pid > kMostPid) continue;
      char path[64];
      number_path(path, "/proc/", static_cast<std::uint32_t>(pid), "/stat");
      const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      char stat[512];
      const ssize_t size = read_full(fd, stat, sizeof stat);
      ::close(fd);
      if (size > 0 && parent_in_stat(stat, static_cast<std::size_t>(size)) == self) {
        signalled += signal_pid(pid, signal);
      }
    }
  }
  ::close(directory);
  return signalled;
}

void end_all_children() noexcept {
  for (;;) {
    const int listed = signal_listed_children(SIGKILL);
    const int signalled = listed >= 0 ? listed : signal_scanned_children(SIGKILL);
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
