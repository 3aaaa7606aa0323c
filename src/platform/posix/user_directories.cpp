#include "platform/posix/user_directories.h"

#include "platform/user_directories.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "platform/environment.h"

namespace tallow::platform::posix {

std::optional<std::filesystem::path> home_directory() {
  if (auto home = environment_path("HOME"); home && home->is_absolute()) return home;
  std::vector<char> buffer(16 * 1024);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/') {
    return std::filesystem::path(found->pw_dir);
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> xdg_directory(std::string_view variable, std::string_view under_home) {
  if (auto directory = environment_path(variable); directory && directory->is_absolute()) {
    return directory;
  }
  if (auto home = home_directory()) return *home / under_home;
  return std::nullopt;
}

}  // namespace tallow::platform::posix

namespace tallow::platform {

std::optional<std::filesystem::path> user_state_base() {
  return posix::xdg_directory("XDG_STATE_HOME", ".local/state");
}

}  // namespace tallow::platform
