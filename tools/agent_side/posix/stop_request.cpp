#include "agent_side/agent_side.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "platform/os_error.h"

namespace tallow::agent_side {

using namespace platform;

namespace {

// The descriptor the handler writes to; the event behind it is never
// destroyed, so the descriptor stays valid for as long as a signal can arrive.
std::atomic<int> stop_request_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void on_stop_signal(int) {
  const int saved = errno;
  const std::uint64_t one = 1;
  // A full eventfd already holds a stop request; nothing else can go wrong worth knowing.
  [[maybe_unused]] const ssize_t written = ::write(stop_request_fd.load(std::memory_order_relaxed), &one, sizeof one);
  errno = saved;
}

}  // namespace

Result<std::shared_ptr<WakeEvent>> stop_request_event() {
  static std::mutex mutex;
  // Deliberately never destroyed: a signal during exit must not write into a
  // descriptor number that something else has reused.
  static auto* installed = new std::shared_ptr<WakeEvent>();
  std::lock_guard lock(mutex);
  if (*installed) return *installed;

  auto event = WakeEvent::create();
  if (!event) return event.error();
  stop_request_fd.store(static_cast<int>(event.value()->native()));

  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT}) {
    if (::sigaction(signal, &action, nullptr) != 0) {
      const Error error = last_os_error();
      struct sigaction fallback {};
      fallback.sa_handler = SIG_DFL;
      ::sigaction(SIGTERM, &fallback, nullptr);
      ::sigaction(SIGINT, &fallback, nullptr);
      stop_request_fd.store(-1);
      return error;
    }
  }
  *installed = event.value();
  return *installed;
}

}  // namespace tallow::agent_side
