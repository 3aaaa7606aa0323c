#include <windows.h>

#include <algorithm>

#include "platform/os_error.h"
#include "platform/wake_event.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::platform {

Result<std::shared_ptr<WakeEvent>> WakeEvent::create() {
  // Manual reset: once raised it stays raised, for every waiter, now or later.
  win32::ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return last_os_error();
  return std::make_shared<WakeEvent>(win32::to_file(std::move(event)));
}

void WakeEvent::raise() const { SetEvent(win32::handle_of(handle_)); }

bool WakeEvent::is_raised() const {
  return WaitForSingleObject(win32::handle_of(handle_), 0) == WAIT_OBJECT_0;
}

bool WakeEvent::wait_for(std::chrono::nanoseconds timeout) const {
  using namespace std::chrono;
  // Rounded up, so a wait never ends before the time asked for; a long one is
  // waited in pieces, since INFINITE is the largest DWORD.
  auto remaining = ceil<milliseconds>(std::max(timeout, nanoseconds::zero()));
  constexpr milliseconds kLongestPiece(INFINITE - 1);
  for (;;) {
    const auto piece = std::min(remaining, kLongestPiece);
    const DWORD result =
        WaitForSingleObject(win32::handle_of(handle_), static_cast<DWORD>(piece.count()));
    if (result == WAIT_OBJECT_0) return true;
    if (result != WAIT_TIMEOUT) return false;
    remaining -= piece;
    if (remaining <= milliseconds::zero()) return false;
  }
}

}  // namespace tallow::platform
