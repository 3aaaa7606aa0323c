#include "platform/win32/console_break.h"

#include <windows.h>

#include <mutex>

namespace tallow::platform::win32 {

bool send_console_break(std::uint32_t pid) {
  // A process has one console at a time, so two senders must not interleave.
  static std::mutex console;
  const std::lock_guard lock(console);

  // The event can only be generated on a console we are attached to. Failing to
  // attach (the child is gone, or we already have a console) leaves ours untouched.
  if (!AttachConsole(pid)) return false;
  // The agent leads its own process group, so the break reaches it and its group,
  // never the tray: no handler of ours is needed to survive it.
  const bool sent = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, pid) != FALSE;
  FreeConsole();
  return sent;
}

}  // namespace tallow::platform::win32
