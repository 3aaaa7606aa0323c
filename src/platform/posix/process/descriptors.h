#pragma once
// Descriptor plumbing shared by the parent and by forked children. Everything here is
// async-signal-safe: it runs between fork and execve in a multi-threaded process and
// throughout the keeper, which never execs.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "platform/file.h"

namespace tallow::platform::posix {

inline int fd_of(const File& file) { return static_cast<int>(file.native()); }

// A fixed-size message through a pipe from a forked child to its parent. Small enough
// (below PIPE_BUF) that each write is atomic.
struct ChildRecord {
  std::int32_t kind = 0;
  std::int32_t value = 0;
};

enum RecordKind : std::int32_t {
  kRecordStarted = 1,   // value: the pid of the started program
  kRecordFailed = 2,    // value: the errno of the failed step
  kRecordExited = 3,    // value: the exit code
  kRecordSignaled = 4,  // value: the number of the killing signal
};

// Writes all of `size` bytes, retrying after interruptions. False on any other failure.
bool write_all(int fd, const void* data, std::size_t size) noexcept;

// Reads until `size` bytes arrived, the end of the stream, or an error; returns the
// count read (short at the end of the stream), or -1 on an error before any byte.
ssize_t read_full(int fd, void* data, std::size_t size) noexcept;

// Writes one record; failures are ignored (the reader treats a missing record itself).
void write_record(int fd, RecordKind kind, std::int32_t value) noexcept;
// In a forked child that cannot go on: reports kRecordFailed(error) on `fd`, exits 127.
[[noreturn]] void fail_child(int fd, int error) noexcept;

// waitpid(pid, status, 0), retried after interruptions.
pid_t wait_for(pid_t pid, int* status) noexcept;

// Puts sources[i] at descriptor i for every i < count and closes every other descriptor
// from 0 up. Descriptors from `first_close_on_exec` on keep close-on-exec, those below
// lose it. A source may sit on any descriptor, a target included: every source is copied
// above the targets before any target is overwritten. Returns 0, or the errno of the
// failed step (the sources are then in an unknown state, except any at or above `count`
// that the caller made sure to keep out of the copies' way).
int place_descriptors(const int* sources, int count, int first_close_on_exec) noexcept;

// Sets every signal's disposition to the default (signals the C library reserves are
// left alone; execve resets their handlers anyway).
void reset_signal_dispositions() noexcept;

}  // namespace tallow::platform::posix
