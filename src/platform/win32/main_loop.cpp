#include "platform/main_loop.h"

#include <windows.h>

#include <algorithm>

namespace tallow::platform {

PumpResult dispatch_pending_events() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) return PumpResult::quit;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return PumpResult::drained;
}

void wait_for_events(std::chrono::milliseconds limit) {
  const auto ms = limit == kUnboundedInputWait
                      ? std::chrono::milliseconds::rep{INFINITE}
                      : std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, INFINITE - 1);
  MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms), QS_ALLINPUT);
}

void wake_main_loop() {
  // The wait is bounded here (changes_wake_main_loop): the next pass comes soon anyway.
}

bool changes_wake_main_loop() { return false; }

}  // namespace tallow::platform
