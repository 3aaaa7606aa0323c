#include "platform/win32/child_process.h"

#include <vector>

#include "platform/os_error.h"
#include "platform/win32/console_break.h"

namespace tallow::platform::win32 {
namespace {

class Win32ChildProcess final : public ChildProcess {
 public:
  Win32ChildProcess(ScopedHandle process, DWORD pid)
      : process_(std::make_shared<ScopedHandle>(std::move(process))), pid_(pid) {}

  std::uint32_t pid() const override { return pid_; }

  StopRequestSender stop_request_sender() const override {
    // The sender shares the process handle: while a handle is open the system does
    // not give the pid to another process, so a late break cannot reach a stranger.
    return [process = process_, pid = pid_] { return send_console_break(pid); };
  }

  Result<std::optional<std::size_t>> wait_exit_or(
      std::span<const WakeEvent* const> wake) override {
    if (wake.size() + 1 > MAXIMUM_WAIT_OBJECTS) return Error{"too many wake events to wait on"};
    std::vector<HANDLE> handles{process_->get()};
    for (const WakeEvent* event : wake) {
      handles.push_back(reinterpret_cast<HANDLE>(event->native()));
    }
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                                FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) return std::optional<std::size_t>();
    if (result > WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + handles.size()) {
      return std::optional<std::size_t>(result - WAIT_OBJECT_0 - 1);
    }
    return last_os_error();
  }

  void terminate() override { TerminateProcess(process_->get(), 1); }

  Result<ExitStatus> wait_exit() override {
    if (WaitForSingleObject(process_->get(), INFINITE) != WAIT_OBJECT_0) return last_os_error();
    DWORD code = 0;
    if (!GetExitCodeProcess(process_->get(), &code)) return last_os_error();
    return ExitStatus{ExitStatus::Kind::code, code};
  }

 private:
  std::shared_ptr<const ScopedHandle> process_;
  DWORD pid_;
};

}  // namespace

std::unique_ptr<ChildProcess> make_child_process(ScopedHandle process, DWORD pid) {
  return std::make_unique<Win32ChildProcess>(std::move(process), pid);
}

}  // namespace tallow::platform::win32
