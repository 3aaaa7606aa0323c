#include "platform/autostart.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/os_error.h"

namespace tallow::platform {
namespace {

constexpr char kEntryName[] = "tallowmere-tray.desktop";
// A desktop entry is a few hundred bytes; anything far larger is not ours.
constexpr std::size_t kMaxEntryBytes = 1 << 20;

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

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart. A relative XDG_CONFIG_HOME is
// invalid and ignored, as the base directory rules say.
std::optional<std::filesystem::path> autostart_directory() {
  if (auto config = environment_path("XDG_CONFIG_HOME"); config && config->is_absolute()) {
    return *config / "autostart";
  }
  if (auto home = home_directory()) return *home / ".config" / "autostart";
  return std::nullopt;
}

Error no_directory() {
  return Error{"There is no home directory to keep the autostart entry in."};
}

}  // namespace

AutostartFormat autostart_format() { return AutostartFormat::desktop_entry; }

std::optional<std::string> read_autostart_entry() {
  const auto directory = autostart_directory();
  if (!directory) return std::nullopt;
  return read_regular_file(*directory / kEntryName, kMaxEntryBytes);
}

Result<void> write_autostart_entry(std::string_view text) {
  const auto directory = autostart_directory();
  if (!directory) return no_directory();
  if (auto made = platform::create_directories(*directory); !made) return made;
  return replace_file_atomically(*directory / kEntryName, text);
}

Result<void> remove_autostart_entry() {
  const auto directory = autostart_directory();
  if (!directory) return no_directory();
  if (::unlink((*directory / kEntryName).c_str()) != 0) return last_os_error();
  return {};
}

}  // namespace tallow::platform
