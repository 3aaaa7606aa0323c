#include "platform/message_loop.h"

#include <windows.h>

#include <algorithm>

namespace tallow::platform {

PumpResult dispatch_window_messages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) return PumpResult::quit;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return PumpResult::drained;
}

void wait_for_window_input(std::chrono::milliseconds limit) {
  const auto ms = limit == kUnboundedInputWait
                      ? std::chrono::milliseconds::rep{INFINITE}
                      : std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, INFINITE - 1);
  MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms), QS_ALLINPUT);
}

void wake_window_wait() {
  // The wait is bounded here (changes_wake_window_wait): the next pass comes soon anyway.
}

bool changes_wake_window_wait() { return false; }

}  // namespace tallow::platform
