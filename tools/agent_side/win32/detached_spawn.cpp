#include "agent_side/agent_side.h"


#include <windows.h>

#include "platform/os_error.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/process/wide_command_line.h"

namespace tallow::agent_side {

using namespace platform;

Result<std::uint32_t> spawn_detached(const std::filesystem::path& program,
                                     const std::vector<std::string>& arguments) {
  std::wstring command_line = win32::wide_command_line(program, arguments);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
    return last_os_error();
  }
  const win32::ScopedHandle process(info.hProcess);
  const win32::ScopedHandle thread(info.hThread);
  return static_cast<std::uint32_t>(info.dwProcessId);
}

}  // namespace tallow::agent_side
