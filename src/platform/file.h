#pragma once
// Owned file handles, whole-file reads, directories, the agent's lock file and its log.

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

// Creates the directory and every missing parent; an existing directory is fine.
Result<void> create_directories(const std::filesystem::path& path);

// Opens (creating if missing, never truncating) a log for appending only, sharing
// read, write and delete access. Not inheritable.
Result<File> open_log_for_append(const std::filesystem::path& path);

}  // namespace tallow::platform
