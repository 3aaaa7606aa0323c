#pragma once
// What happens to the agent's state directory and the files in it, as the system tells
// it, so that the supervisor re-reads them when they change instead of on a clock.
// Linux: inotify, read on a thread of the watch's own. Windows: not offered; the
// supervisor keeps its periodic refresh there.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/result.h"

namespace tallow::platform {

enum class StateDirectoryChange {
  created,             // a file of that name was made
  written,             // a file was closed after being opened for writing
  moved_in,            // a file was renamed to that name, over whatever had it
  moved_out,           // the file of that name was renamed away
  removed,             // the file of that name was deleted
  opened,              // the lock file was opened (reported for the lock file only)
  closed_unwritten,    // the lock file was closed, not opened for writing (lock file only)
  directory_appeared,  // the directory exists again, or for the first time
  directory_gone,      // the directory was removed or renamed away
  events_lost,         // the system dropped events: anything may have changed
};

struct StateDirectoryEvent {
  StateDirectoryChange change;
  std::string name;  // the file's name; empty for the directory's own changes
  // For `opened` and `closed_unwritten`: this process's own probe of the lock file
  // (is_file_locked_elsewhere) did it, as far as the counts of its probes tell.
  bool by_own_probe = false;
  bool operator==(const StateDirectoryEvent&) const = default;
};

class StateDirectoryWatch {
 public:
  using Listener = std::function<void(const StateDirectoryEvent&)>;

  // Starts watching `directory`, and the opens and closes of `lock_name` in it, calling
  // `listener` on the watch's thread for each event, in the order they happened. A
  // directory that does not exist yet is waited for (its nearest existing ancestor is
  // watched meanwhile), as is one removed later, and a symbolic link on its path that is
  // pointed elsewhere moves the watch to where it leads. Fails where the system offers
  // no watch at all; the caller then has to poll.
  static Result<std::unique_ptr<StateDirectoryWatch>> start(const std::filesystem::path& directory,
                                                           const std::string& lock_name, Listener listener);

  // Whether every change is reported now. False while the system refuses a watch on
  // the directory, a link on its path or the lock file (the per-user limit of watches
  // used up, a directory it may not read): the caller polls meanwhile.
  bool watching() const;
  // Sets up again what the system refused before; true once watching().
  bool try_again();

  // Stops the thread; the listener is not called once this has returned.
  ~StateDirectoryWatch();
  StateDirectoryWatch(const StateDirectoryWatch&) = delete;
  StateDirectoryWatch& operator=(const StateDirectoryWatch&) = delete;

  struct Impl;
  explicit StateDirectoryWatch(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tallow::platform
