#pragma once
// The system refusing inotify, for tests of what the tray does without it: the per-user
// limit of watches used up (inotify_add_watch fails with ENOSPC) or no instance to be
// had (inotify_init1 fails with EMFILE). Linked into a test program, the functions of
// refused_inotify.cpp stand in for the C library's in the whole process, switched by the
// calls below; preloaded into another program as librefused_inotify.so, they refuse as
// the variable TALLOW_REFUSED_INOTIFY says: "watches" or "instances".

#include <string>

namespace tallow::test {

// Refuses every watch whose path ends in `name` (every watch when `name` is empty), from
// now until refuse_no_inotify().
void refuse_inotify_watches(const std::string& name = {});
void refuse_no_inotify();

// Lifts the refusal when it goes out of scope.
struct InotifyRefusal {
  explicit InotifyRefusal(const std::string& name = {}) { refuse_inotify_watches(name); }
  ~InotifyRefusal() { refuse_no_inotify(); }
  InotifyRefusal(const InotifyRefusal&) = delete;
  InotifyRefusal& operator=(const InotifyRefusal&) = delete;
};

}  // namespace tallow::test
