#include <sys/file.h>
#include <fcntl.h>

#include <cerrno>

#include "agent_side/agent_side.h"
#include "platform/os_error.h"
#include "platform/posix/replace_file.h"

namespace tallow::agent_side {

Result<FileLock> lock_file_exclusively(const std::filesystem::path& path) {
  platform::File file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
  if (!file.valid()) return platform::last_os_error();
  for (;;) {
    if (::flock(static_cast<int>(file.native()), LOCK_EX | LOCK_NB) == 0) return FileLock(std::move(file));
    if (errno != EINTR) return platform::last_os_error();
  }
}

Result<void> replace_file_atomically(const std::filesystem::path& path, std::string_view bytes) {
  return platform::posix::replace_file_atomically(path, bytes);
}

}  // namespace tallow::agent_side
