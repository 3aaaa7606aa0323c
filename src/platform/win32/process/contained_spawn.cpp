// The contained agent on Windows: started suspended, without a window, as a new process
// group, placed in a fresh kill-on-close job whose only handle then lives in the child
// itself, and resumed; no suspended process is left behind on any failure. Known from
// then on by its process handle alone, which never ends the child when let go of. Its
// graceful stop is a console break to its group.

#include "platform/process.h"

#include <windows.h>

#include <charconv>
#include <mutex>
#include <string>
#include <vector>

#include "platform/os_error.h"
#include "platform/win32/process/child_stdio.h"
#include "platform/win32/process/environment_block.h"
#include "platform/win32/process/inherited_handles.h"
#include "platform/win32/process/wide_command_line.h"
#include "platform/win32/scoped_handle.h"

// Exported by ntdll (and its import library) but declared by no SDK header. Resumes
// every thread of the process, whatever its suspend count.
extern "C" LONG NTAPI NtResumeProcess(HANDLE process);

namespace tallow::platform::win32 {
namespace {

static_assert(sizeof(void*) != 8 || sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION) == 144);

Result<ScopedHandle> create_kill_on_close_job() {
  ScopedHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) return last_os_error();
  // Breakaway stays allowed so that a process the agent deliberately starts outside
  // (with CREATE_BREAKAWAY_FROM_JOB) can outlive it; everything else dies with the job.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof(limits))) {
    return last_os_error();
  }
  return job;
}

Error resume_failure(LONG status) {
  char digits[8];
  const auto end = std::to_chars(digits, digits + sizeof(digits),
                                 static_cast<unsigned long>(static_cast<ULONG>(status)), 16).ptr;
  return Error{"NtResumeProcess failed: 0x" + std::string(digits, end)};
}

// Puts the suspended child into the job, hands the job's lifetime to it, and lets it run.
Result<void> release_into_job(HANDLE job, HANDLE process) {
  if (!AssignProcessToJobObject(job, process)) return last_os_error();
  // A handle inside the child keeps the job alive exactly as long as the child:
  // when the agent ends, its handles close, the job closes, and kill-on-close ends
  // whatever the agent left running, even after the tray itself is gone. The value
  // is of no use to the agent and is not passed on.
  HANDLE unused = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), job, process, &unused, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return last_os_error();
  }
  // Resumed only now, so the agent cannot start a descendant outside the job.
  const LONG status = NtResumeProcess(process);
  if (status < 0) return resume_failure(status);
  return {};
}

// The graceful stop request to the child's process group: CTRL_BREAK_EVENT through the
// child's console. True when the event was generated.
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


class JobChildProcess final : public ChildProcess {
 public:
  JobChildProcess(ScopedHandle process, DWORD pid)
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
}  // namespace tallow::platform::win32

namespace tallow::platform {

using namespace win32;

Result<std::unique_ptr<ChildProcess>> spawn_contained(AgentCommand command) {
  auto job = create_kill_on_close_job();
  if (!job) return job.error();

  // No console window (the agent's output goes to its log), a process group of its own
  // (the console break's target) and a suspended start (nothing runs before the job
  // holds it); the last two only say how the environment block and the startup record
  // are laid out.
  const DWORD flags = CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED |
                      CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT;

  std::wstring command_line = wide_command_line(command.program, command.arguments);
  std::wstring environment = environment_block(command.environment);
  auto stdio = child_stdio(std::move(command.output));
  if (!stdio) return stdio.error();
  auto inherited = InheritedHandles::create(
      {stdio->input.get(), stdio->output.get(), stdio->error.get()});
  if (!inherited) return inherited.error();

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = stdio->input.get();
  startup.StartupInfo.hStdOutput = stdio->output.get();
  startup.StartupInfo.hStdError = stdio->error.get();
  startup.lpAttributeList = inherited.value()->get();

  const wchar_t* working_directory =
      command.working_directory.empty() ? nullptr : command.working_directory.c_str();
  PROCESS_INFORMATION info{};
  const BOOL created = CreateProcessW(command.program.c_str(), command_line.data(), nullptr,
                                      nullptr, TRUE, flags, environment.data(), working_directory,
                                      &startup.StartupInfo, &info);
  const DWORD create_error = GetLastError();
  // The child holds its own copies now; ours would only keep the log open.
  stdio.value() = ChildStdio{};
  if (!created) return os_error(create_error);

  ScopedHandle process(info.hProcess);
  const ScopedHandle thread(info.hThread);

  const auto released = release_into_job(job->get(), process.get());
  if (!released) {
    // Never leave a suspended agent behind.
    TerminateProcess(process.get(), 1);
    return released.error();
  }
  // From here the job's only handle is the one inside the agent.
  job->reset();
  return std::unique_ptr<ChildProcess>(std::make_unique<JobChildProcess>(std::move(process), info.dwProcessId));
}

}  // namespace tallow::platform
