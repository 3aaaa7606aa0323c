#include "agent_side/agent_side.h"

#include <windows.h>

#include <atomic>

#include "platform/os_error.h"

namespace tallow::agent_side {

using namespace platform;
namespace {

// Read by the handler, which the system runs on a thread of its own.
std::atomic<const WakeEvent*> stop_request{nullptr};

BOOL WINAPI on_console_control(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (const WakeEvent* event = stop_request.load()) event->raise();
      return TRUE;
    default:
      return FALSE;
  }
}

Result<std::shared_ptr<WakeEvent>> install() {
  auto event = WakeEvent::create();
  if (!event) return event;
  stop_request.store(event.value().get());
  if (!SetConsoleCtrlHandler(on_console_control, TRUE)) {
    const Error error = last_os_error();
    stop_request.store(nullptr);
    return error;
  }
  return event;
}

}  // namespace

Result<std::shared_ptr<WakeEvent>> stop_request_event() {
  // Never destroyed: the handler may still run while static objects are torn down.
  static const auto* const installed = new Result<std::shared_ptr<WakeEvent>>(install());
  return *installed;
}

}  // namespace tallow::agent_side
