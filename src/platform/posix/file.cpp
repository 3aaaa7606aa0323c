#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <system_error>

#include "platform/environment.h"
#include "platform/os_error.h"
#include "platform/posix/process/descriptors.h"
#include "platform/posix/replace_file.h"
#include "platform/posix/lock_probe_count.h"

namespace tallow::platform {

namespace {

int fd_of(const File& file) { return static_cast<int>(file.native()); }

// Opens without ever blocking: O_NONBLOCK keeps a FIFO without writer (or a device)
// from stalling the open, and O_NOCTTY keeps a terminal from becoming ours.
File open_for_probe(const std::filesystem::path& path) {
  return File(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
}

bool is_regular(const File& file) {
  struct stat info;
  return ::fstat(fd_of(file), &info) == 0 && S_ISREG(info.st_mode);
}

// Takes the lock for an instant; true when another holder has it.
bool is_flocked_elsewhere(const File& file) {
  for (;;) {
    if (::flock(fd_of(file), LOCK_EX | LOCK_NB) == 0) {
      ::flock(fd_of(file), LOCK_UN);
      return false;
    }
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK;
  }
}

}  // namespace

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    reset();
    native_ = other.release();
  }
  return *this;
}

void File::reset() {
  if (native_ == kInvalid) return;
  // Never retried: on Linux the descriptor is gone even when close reports EINTR.
  ::close(static_cast<int>(native_));
  native_ = kInvalid;
}

std::optional<std::string> read_regular_file(const std::filesystem::path& path, std::size_t max_bytes) {
  const File file = open_for_probe(path);
  if (!file.valid() || !is_regular(file)) return std::nullopt;
  // One byte beyond the limit tells an oversized file, also one that grows meanwhile.
  const std::size_t limit = max_bytes == SIZE_MAX ? SIZE_MAX : max_bytes + 1;
  std::string content;
  for (;;) {
    const std::size_t chunk = std::min<std::size_t>(limit - content.size(), 64 * 1024);
    if (chunk == 0) break;
    const std::size_t old_size = content.size();
    content.resize(old_size + chunk);
    const ssize_t got = ::read(fd_of(file), content.data() + old_size, chunk);
    content.resize(old_size + (got > 0 ? static_cast<std::size_t>(got) : 0));
    if (got == 0) break;
    if (got < 0 && errno != EINTR) return std::nullopt;
  }
  if (content.size() > max_bytes) return std::nullopt;
  return content;
}

bool is_file_locked_elsewhere(const std::filesystem::path& path) {
  // A watch on the state directory tells this probe's open and close from another
  // process's by these counts (the agent's own open is how it learns of a new agent).
  const std::shared_ptr<posix::LockProbeCount> count = posix::lock_probe_count(path);
  if (count) count->opens.fetch_add(1);
  // The agent holds a flock lock on this file on Linux, so the probe asks the same
  // kind of lock. A read-only descriptor suffices for flock, and never creates the file.
  File file = open_for_probe(path);
  if (!file.valid()) {
    if (count) count->opens.fetch_sub(1);
    return false;
  }
  const bool locked = is_regular(file) && is_flocked_elsewhere(file);
  if (count) count->closes.fetch_add(1);
  file.reset();
  return locked;
}

Result<void> create_directories(const std::filesystem::path& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  int error = errno;
  if (error == ENOENT) {
    const auto parent = path.parent_path();
    if (!parent.empty() && parent != path) {
      if (auto made = platform::create_directories(parent); !made) return made;
      if (::mkdir(path.c_str(), 0777) == 0) return {};
      error = errno;
    }
  }
  if (error == EEXIST) {
    if (std::error_code ignored; std::filesystem::is_directory(path, ignored)) return {};
    error = ENOTDIR;
  }
  return os_error(static_cast<std::uint32_t>(error));
}

Result<File> open_log_for_append(const std::filesystem::path& path) {
  // O_NONBLOCK: a FIFO without a reader (or a device) in the log's place must fail the
  // launch, not stall it and, with it, the tray's quit.
  File file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644));
  const auto not_a_file = [&] { return Error{path_text(path) + " is not a regular file"}; };
  if (!file.valid()) {
    // A FIFO without a reader refuses a non-blocking writer with ENXIO; say what it is.
    const Error error = last_os_error();
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return not_a_file();
    return error;
  }
  if (!is_regular(file)) return not_a_file();
  // The agent inherits this open file; it should write to it as to any plain file.
  const int flags = ::fcntl(fd_of(file), F_GETFL);
  if (flags < 0 || ::fcntl(fd_of(file), F_SETFL, flags & ~O_NONBLOCK) != 0) return last_os_error();
  return file;
}

Result<void> posix::replace_file_atomically(const std::filesystem::path& path, std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  const auto directory = path.parent_path();
  std::filesystem::path temporary;
  File file;
  for (int attempt = 0; attempt < 100 && !file.valid(); ++attempt) {
    temporary = directory / ("." + path.filename().native() + ".tmp-" + std::to_string(::getpid()) +
                             "-" + std::to_string(counter++));
    file = File(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0644));
    if (!file.valid() && errno != EEXIST) return last_os_error();
  }
  if (!file.valid()) return os_error(EEXIST);

  // Flushed before the rename, so a crash leaves either the old content or the new.
  Result<void> result;
  if (!posix::write_all(fd_of(file), bytes.data(), bytes.size()) || ::fsync(fd_of(file)) != 0) {
    result = last_os_error();
  }
  if (result && ::close(static_cast<int>(file.release())) != 0) result = last_os_error();
  if (result && ::rename(temporary.c_str(), path.c_str()) != 0) result = last_os_error();
  if (!result) ::unlink(temporary.c_str());
  return result;
}

}  // namespace tallow::platform
