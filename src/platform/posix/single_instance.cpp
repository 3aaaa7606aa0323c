// One tray per user session: an exclusive flock on tallowmere-tray.lock in the session's
// runtime directory. The kernel drops the lock when the process ends, however it ends,
// so a crashed tray never keeps the next one out.

#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <optional>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/posix/user_directories.h"

namespace tallow::platform {
namespace {

constexpr char kLockName[] = "tallowmere-tray.lock";

// $XDG_RUNTIME_DIR lives exactly as long as the user's sessions; without it, the cache
// directory is the user's own and always there.
std::optional<std::filesystem::path> lock_directory() {
  if (auto runtime = environment_path("XDG_RUNTIME_DIR"); runtime && runtime->is_absolute()) {
    return runtime;
  }
  auto cache = posix::xdg_directory("XDG_CACHE_HOME", ".cache");
  if (cache && !platform::create_directories(*cache)) return std::nullopt;
  return cache;
}

}  // namespace

SingleInstance SingleInstance::claim() {
  const auto directory = lock_directory();
  if (!directory) return SingleInstance(Claim::unguarded, {});
  // Close-on-exec: the agent and the shell's programs must not inherit the claim.
  const int fd = ::open((*directory / kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
  File guard(fd);
  if (!guard.valid()) return SingleInstance(Claim::unguarded, {});
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked == 0) return SingleInstance(Claim::claimed, std::move(guard));
  if (errno == EWOULDBLOCK) return SingleInstance(Claim::already_running, {});
  return SingleInstance(Claim::unguarded, {});
}

}  // namespace tallow::platform
