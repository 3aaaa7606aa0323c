#include "platform/autostart.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/os_error.h"
#include "platform/posix/user_directories.h"

namespace tallow::platform {
namespace {

constexpr char kEntryName[] = "tallowmere-tray.desktop";
// A desktop entry is a few hundred bytes; anything far larger is not ours.
constexpr std::size_t kMaxEntryBytes = 1 << 20;

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart. A relative XDG_CONFIG_HOME is
// invalid and ignored, as the base directory rules say.
std::optional<std::filesystem::path> autostart_directory() {
  if (auto config = posix::xdg_directory("XDG_CONFIG_HOME", ".config")) return *config / "autostart";
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
