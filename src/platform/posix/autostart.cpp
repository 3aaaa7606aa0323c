#include "platform/autostart.h"

#include <glib-unix.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>

#include "platform/file.h"
#include "platform/os_error.h"
#include "platform/posix/desktop_entry.h"
#include "platform/posix/replace_file.h"
#include "platform/posix/followed_directory.h"
#include "platform/posix/glib_ptr.h"
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

Error no_directory() { return Error{"There is no home directory to keep the autostart entry in."}; }

}  // namespace

bool is_autostart_enabled() {
  const auto directory = autostart_directory();
  const auto entry = directory ? read_regular_file(*directory / kEntryName, kMaxEntryBytes) : std::nullopt;
  return entry && !posix::desktop_entry_is_hidden(*entry);
}

Result<void> enable_autostart(const std::filesystem::path& program) {
  auto text = posix::desktop_entry_text(program);
  if (!text) return text.error();
  const auto directory = autostart_directory();
  if (!directory) return no_directory();
  if (auto made = platform::create_directories(*directory); !made) return made;
  return posix::replace_file_atomically(*directory / kEntryName, text.value());
}

Result<void> disable_autostart() {
  const auto directory = autostart_directory();
  if (!directory) return no_directory();
  if (::unlink((*directory / kEntryName).c_str()) != 0) return last_os_error();
  return {};
}

struct AutostartWatch::Impl {
  explicit Impl(posix::FollowedDirectory watched) : followed(std::move(watched)) {}

  // Whatever happened, the wait has ended by now; the tray's next pass reads the entry.
  static gboolean on_ready(gint, GIOCondition, gpointer data) {
    static_cast<Impl*>(data)->followed.read([](const posix::DirectoryNotice&) {});
    return G_SOURCE_CONTINUE;
  }

  posix::FollowedDirectory followed;
  posix::GSourcePtr source;
};

AutostartWatch AutostartWatch::start() {
  const auto directory = autostart_directory();
  if (!directory) return AutostartWatch(nullptr);
  auto followed = posix::FollowedDirectory::create(*directory,
                                                   IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE);
  if (!followed) return AutostartWatch(nullptr);
  auto impl = std::make_unique<Impl>(std::move(followed).value());
  impl->source = posix::on_main_context(g_unix_fd_source_new(impl->followed.descriptor(), G_IO_IN),
                                        G_SOURCE_FUNC(&Impl::on_ready), impl.get());
  return AutostartWatch(std::move(impl));
}

AutostartWatch::AutostartWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

bool AutostartWatch::keep_watching() { return impl_ && impl_->followed.try_again(); }
AutostartWatch::~AutostartWatch() = default;
AutostartWatch::AutostartWatch(AutostartWatch&&) noexcept = default;
AutostartWatch& AutostartWatch::operator=(AutostartWatch&&) noexcept = default;

}  // namespace tallow::platform
