#pragma once
// One tray per logon session. Windows: the named mutex "Local\tallowmere-tray", created
// owned and held until the process ends. Linux: an exclusive lock on a file in the
// session's runtime directory ($XDG_RUNTIME_DIR, else the user's cache directory).

#include "platform/file.h"

namespace tallow::platform {

class SingleInstance {
 public:
  enum class Claim {
    claimed,          // this is the session's tray
    already_running,  // another tray of this session holds the claim
    unguarded,        // no guard could be made; the tray runs without one
  };

  // Claims the session's one tray. The claim lasts as long as the object, and the
  // object is meant to live until the process ends.
  static SingleInstance claim();

  Claim state() const { return state_; }

 private:
  SingleInstance(Claim state, File guard) : state_(state), guard_(std::move(guard)) {}

  Claim state_;
  File guard_;  // the lock file (Linux) or the mutex (Windows), held while it lives
};

}  // namespace tallow::platform
