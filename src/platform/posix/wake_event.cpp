#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "platform/os_error.h"
#include "platform/wake_event.h"

namespace tallow::platform {

Result<std::shared_ptr<WakeEvent>> WakeEvent::create() {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return last_os_error();
  return std::make_shared<WakeEvent>(File(fd));
}

void WakeEvent::raise() const {
  // Only ever added to and never read, so the counter stays non-zero: raised for good.
  // Async-signal-safe, which the stop-request handlers rely on.
  const std::uint64_t one = 1;
  while (::write(static_cast<int>(handle_.native()), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

bool WakeEvent::is_raised() const { return wait_for(std::chrono::nanoseconds(0)); }

bool WakeEvent::wait_for(std::chrono::nanoseconds timeout) const {
  using Clock = std::chrono::steady_clock;
  // Beyond a century the wait is as good as unbounded, and the deadline cannot overflow.
  const bool unbounded = timeout > std::chrono::hours(24 * 365 * 100);
  const auto deadline = Clock::now() + (unbounded ? Clock::duration::zero() : timeout);
  struct pollfd watched {static_cast<int>(handle_.native()), POLLIN, 0};
  for (;;) {
    const auto left = std::max<std::chrono::nanoseconds>(deadline - Clock::now(), {}).count();
    const timespec remaining{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
    const int ready = ::ppoll(&watched, 1, unbounded ? nullptr : &remaining, nullptr);
    if (ready > 0) return (watched.revents & POLLIN) != 0;
    if (ready == 0 || errno != EINTR) return false;
  }
}

}  // namespace tallow::platform
