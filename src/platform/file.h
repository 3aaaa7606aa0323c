#pragma once
// Owned file handles, whole-file reads, directories and the agent's lock file.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "common/result.h"

namespace tallow::platform {

// A move-only owned file handle (a HANDLE on Windows, a descriptor elsewhere).
class File {
 public:
  File() = default;
  explicit File(std::intptr_t native) : native_(native) {}
  File(File&& other) noexcept : native_(other.release()) {}
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { reset(); }

  bool valid() const { return native_ != kInvalid; }
  std::intptr_t native() const { return native_; }
  std::intptr_t release() { auto n = native_; native_ = kInvalid; return n; }
  void reset();

  static constexpr std::intptr_t kInvalid = -1;

 private:
  std::intptr_t native_ = kInvalid;
};

// Reads a regular file whole. Absent when the file is missing, is not a regular file
// (a directory, FIFO or device never blocks the caller), cannot be read, or holds more
// than `max_bytes`. On Windows the file is opened sharing read, write and delete, so
// a writer may replace or delete it meanwhile.
std::optional<std::string> read_regular_file(const std::filesystem::path& path,
                                             std::size_t max_bytes);

// True when another holder has an exclusive lock on the existing regular file `path`;
// false when it is missing, unlocked, or cannot be probed. The probe never creates
// the file and leaves it unlocked. Windows: LockFileEx over the whole file; Linux:
// flock(LOCK_EX | LOCK_NB), the kind of lock the agent takes there.
bool is_file_locked_elsewhere(const std::filesystem::path& path);

// An exclusive lock on a file, held until destroyed (the agent's side of the probe).
class FileLock {
 public:
  FileLock() = default;
  explicit FileLock(File file) : file_(std::move(file)) {}
  FileLock(FileLock&&) noexcept = default;
  FileLock& operator=(FileLock&&) noexcept = default;
  ~FileLock() = default;  // closing the file releases the lock

 private:
  File file_;
};

// Creates `path` if needed and locks it exclusively without waiting.
Result<FileLock> lock_file_exclusively(const std::filesystem::path& path);

// Creates the directory and every missing parent; an existing directory is fine.
Result<void> create_directories(const std::filesystem::path& path);

// Opens (creating if missing, never truncating) a log for appending only, sharing
// read, write and delete access. Not inheritable.
Result<File> open_log_for_append(const std::filesystem::path& path);

// Writes all of `bytes` to the file whose whole content it replaces, atomically where the
// platform allows (write to a temporary file beside it, then rename over).
Result<void> replace_file_atomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace tallow::platform
