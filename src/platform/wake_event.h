#pragma once
// A wake event: how one thread tells waiting others that something happened (a
// shutdown, a stop request, a kill deadline).

#include <chrono>
#include <cstdint>
#include <memory>

#include "common/result.h"
#include "platform/file.h"

namespace tallow::platform {

// A one-shot wake event with a stored permit, backed by an OS waitable (a
// manual-reset event on Windows, an eventfd on Linux). Raising it any number of
// times from any thread has one effect; once raised it stays raised, so a wait
// that begins later completes at once.
class WakeEvent {
 public:
  static Result<std::shared_ptr<WakeEvent>> create();
  explicit WakeEvent(File handle) : handle_(std::move(handle)) {}

  void raise() const;
  bool is_raised() const;
  // Waits until raised or until `timeout` passes; true when raised.
  bool wait_for(std::chrono::nanoseconds timeout) const;
  std::intptr_t native() const { return handle_.native(); }

 private:
  File handle_;
};

}  // namespace tallow::platform
