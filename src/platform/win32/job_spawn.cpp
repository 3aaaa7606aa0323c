#include "platform/win32/job_spawn.h"

#include <charconv>
#include <string>

#include "platform/os_error.h"
#include "platform/win32/child_process.h"
#include "platform/win32/child_stdio.h"
#include "platform/win32/environment_block.h"
#include "platform/win32/inherited_handles.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_command_line.h"

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

}  // namespace

Result<std::unique_ptr<ChildProcess>> spawn_in_job(AgentCommand command, DWORD extra_flags) {
  auto job = create_kill_on_close_job();
  if (!job) return job.error();

  // The caller's flags plus a process group of its own (the console break's target)
  // and a suspended start (nothing runs before the job holds it); the last two only
  // say how the environment block and the startup record are laid out.
  const DWORD flags = extra_flags | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED |
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
  return make_child_process(std::move(process), info.dwProcessId);
}

}  // namespace tallow::platform::win32

namespace tallow::platform {

Result<std::unique_ptr<ChildProcess>> spawn_contained(AgentCommand command) {
  // No console window: the agent's output goes to its log.
  return win32::spawn_in_job(std::move(command), CREATE_NO_WINDOW);
}

}  // namespace tallow::platform
