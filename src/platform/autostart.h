#pragma once
// The per-user store of programs started at login, and the tray's one entry in it.
//   Windows: the value "tallowmere" under HKEY_CURRENT_USER
//            "Software\Microsoft\Windows\CurrentVersion\Run": the program's path in
//            double quotes. Any REG_SZ value counts, whatever its data: Windows runs it,
//            even one left by a copy of the program elsewhere.
//   Linux:   "tallowmere-tray.desktop" in the XDG autostart directory
//            ($XDG_CONFIG_HOME/autostart, by default ~/.config/autostart): a desktop entry
//            (posix/desktop_entry.h), which counts unless marked Hidden=true.

#include <filesystem>
#include <memory>

#include "common/result.h"

namespace tallow::platform {

// Whether the store holds an entry that starts the tray at login.
bool is_autostart_enabled();

// Creates or replaces the entry so that it starts `program` with no arguments, creating
// the key or directory that holds it; a file is replaced atomically. Fails, leaving the
// store as it was, for a path the entry cannot hold (platform/environment.h,
// program_path_text).
Result<void> enable_autostart(const std::filesystem::path& program);

// Removes the entry, whatever its type or content.
Result<void> disable_autostart();

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
