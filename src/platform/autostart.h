#pragma once
// The per-user store of programs started at login, and the tray's one entry in it.
//   Windows: the value "tallowmere" under HKEY_CURRENT_USER
//            "Software\Microsoft\Windows\CurrentVersion\Run", a command line.
//   Linux:   "tallowmere-tray.desktop" in the XDG autostart directory
//            ($XDG_CONFIG_HOME/autostart, by default ~/.config/autostart), a desktop entry.
// What the entry says and when it counts is decided by the caller.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tallow::platform {

enum class AutostartFormat {
  command_line,   // the data of a REG_SZ Run value
  desktop_entry,  // the text of a freedesktop.org desktop entry file
};

// The form of the entry on this platform.
AutostartFormat autostart_format();

// The entry as it stands, or none. On Windows only a REG_SZ value is an entry (one of
// another type is none), and its data is not read: whatever it holds, Windows runs it,
// so the text is empty. On Linux the file's content, when it is a readable regular file.
std::optional<std::string> read_autostart_entry();

// Creates or replaces the entry, creating the key or directory that holds it. The
// file is replaced atomically.
Result<void> write_autostart_entry(std::string_view text);

// Removes the entry, whatever its type or content.
Result<void> remove_autostart_entry();

// While it lives, the entry being made, rewritten, replaced or removed by anyone ends the
// main thread's wait for events, so the tray reads the entry again after it.
// Linux: an inotify watch on the autostart directory (or, while that is missing, on its
// nearest ancestor) among the sources of GLib's default main context; create it on the
// main thread. Windows: nothing; the tray's bounded wait reads the Run value after each.
class AutostartWatch {
 public:
  static AutostartWatch start();
  ~AutostartWatch();
  AutostartWatch(AutostartWatch&&) noexcept;
  AutostartWatch& operator=(AutostartWatch&&) noexcept;

  // Whether changes end the wait now, having first tried again to set up what the system
  // refused (the per-user limit of watches used up). False on Windows, and wherever
  // the system refuses: the caller bounds its wait then.
  bool keep_watching();

  struct Impl;
  explicit AutostartWatch(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tallow::platform
