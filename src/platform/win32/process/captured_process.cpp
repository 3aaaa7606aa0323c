// Windows side of run_captured: each output stream through a named pipe read with
// overlapped I/O, so that one thread waits on both reads, the process and the wake
// wake events at once.

#include "platform/captured_process.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/os_error.h"
#include "platform/win32/process/child_stdio.h"
#include "platform/win32/process/environment_block.h"
#include "platform/win32/process/inherited_handles.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/process/wide_command_line.h"

namespace tallow::platform {
namespace {

using win32::ScopedHandle;
using Clock = std::chrono::steady_clock;

constexpr DWORD kPipeBuffer = 64 * 1024;

struct OutputPipe {
  ScopedHandle ours;    // reading end, overlapped, not inheritable
  ScopedHandle theirs;  // writing end, inheritable, for the child
};

// Anonymous pipes cannot do overlapped I/O, hence a named one. The name is unique to
// this call; a single instance that refuses remote clients, opened by us at once,
// leaves nobody else a way in.
Result<OutputPipe> create_output_pipe() {
  static std::atomic<unsigned> counter{0};
  static thread_local std::random_device random;
  const std::wstring name = L"\\\\.\\pipe\\tallowmere-capture-" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(counter++) + L"-" + std::to_wstring(random());
  OutputPipe pipe;
  pipe.ours = ScopedHandle(CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
      kPipeBuffer, 0, nullptr));
  if (!pipe.ours) return last_os_error();
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  pipe.theirs = ScopedHandle(CreateFileW(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0,
                                         &inheritable, OPEN_EXISTING, 0, nullptr));
  if (!pipe.theirs) return last_os_error();
  return pipe;
}

// Reads one pipe to its end, one overlapped read at a time. Stays where it was made:
// the system writes into its OVERLAPPED and buffer while a read is pending.
class PipeReader {
 public:
  static Result<std::unique_ptr<PipeReader>> create(ScopedHandle pipe, std::size_t limit) {
    ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return last_os_error();
    return std::unique_ptr<PipeReader>(new PipeReader(std::move(pipe), std::move(event), limit));
  }

  // A pending read is cancelled, and waited for, before its buffer goes.
  ~PipeReader() {
    if (!pending_) return;
    DWORD ignored = 0;
    CancelIoEx(pipe_.get(), &overlapped_);
    GetOverlappedResult(pipe_.get(), &overlapped_, &ignored, TRUE);
  }
  PipeReader(const PipeReader&) = delete;
  PipeReader& operator=(const PipeReader&) = delete;

  bool open() const { return !ended_; }
  HANDLE event() const { return event_.get(); }
  bool ready() const { return pending_ && WaitForSingleObject(event_.get(), 0) == WAIT_OBJECT_0; }
  std::string take() { return std::move(kept_); }

  // Issues the next read. Whether it completes at once or later, the event says so.
  Result<void> read_next() {
    if (ReadFile(pipe_.get(), buffer_.get(), kPipeBuffer, nullptr, &overlapped_)) {
      pending_ = true;
      return {};
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
      pending_ = true;
      return {};
    }
    return finish(error);
  }

  // Takes the finished read and issues the next one.
  Result<void> complete() {
    DWORD got = 0;
    const BOOL done = GetOverlappedResult(pipe_.get(), &overlapped_, &got, FALSE);
    const DWORD error = GetLastError();
    pending_ = false;
    if (!done) return finish(error);
    append_capped(kept_, buffer_.get(), got, limit_);
    return read_next();
  }

 private:
  PipeReader(ScopedHandle pipe, ScopedHandle event, std::size_t limit)
      : pipe_(std::move(pipe)), event_(std::move(event)), limit_(limit) {
    overlapped_.hEvent = event_.get();
  }

  // The writing end closed (the child and every heir of it are done): the end of the
  // stream. Anything else is a failure.
  Result<void> finish(DWORD error) {
    if (error != ERROR_BROKEN_PIPE) return os_error(error);
    ended_ = true;
    return {};
  }

  ScopedHandle pipe_;
  ScopedHandle event_;
  std::size_t limit_;
  OVERLAPPED overlapped_{};
  std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(kPipeBuffer);
  std::string kept_;
  bool pending_ = false;
  bool ended_ = false;
};

// The started process until its end is known. Whatever path leaves before that
// terminates it and waits until it is gone.
class StartedProcess {
 public:
  explicit StartedProcess(ScopedHandle process) : process_(std::move(process)) {}
  ~StartedProcess() {
    if (!process_) return;
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), INFINITE);
  }
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;

  HANDLE get() const { return process_.get(); }
  bool has_exited() const { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }

  Result<ExitStatus> exit_status() {
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.get(), &code)) return last_os_error();
    process_.reset();
    return ExitStatus{ExitStatus::Kind::code, code};
  }

 private:
  ScopedHandle process_;
};

Result<std::unique_ptr<StartedProcess>> start(const CaptureCommand& command, OutputPipe& output,
                                              OutputPipe& error_output) {
  // The command line would end at a NUL and the agent get other arguments than these.
  for (const std::string& argument : command.arguments) {
    if (argument.find('\0') != std::string::npos) return os_error(ERROR_INVALID_PARAMETER);
  }
  auto input = win32::open_null_device(GENERIC_READ);
  if (!input) return input.error();
  auto inherited = win32::InheritedHandles::create(
      {input->get(), output.theirs.get(), error_output.theirs.get()});
  if (!inherited) return inherited.error();

  std::wstring command_line = win32::wide_command_line(command.program, command.arguments);
  std::wstring environment = win32::environment_block(command.environment);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input->get();
  startup.StartupInfo.hStdOutput = output.theirs.get();
  startup.StartupInfo.hStdError = error_output.theirs.get();
  startup.lpAttributeList = inherited.value()->get();

  const DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(command.program.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags,
                      environment.data(), nullptr, &startup.StartupInfo, &info)) {
    return last_os_error();
  }
  const ScopedHandle thread(info.hThread);
  return std::make_unique<StartedProcess>(ScopedHandle(info.hProcess));
}

DWORD wait_milliseconds(Clock::duration left) {
  // Rounded up, so the wait never ends before the deadline.
  const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<DWORD>(std::min<long long>(milliseconds, INFINITE - 1));
}

// Serves both pipes until the process has exited and both have ended, the deadline has
// passed or a wake is raised; says which (the exit status is not known yet).
Result<CapturedRun> watch(const StartedProcess& process, std::span<PipeReader* const, 2> readers,
                          Clock::time_point deadline, std::span<const WakeEvent* const> wake) {
  bool exited = false;
  std::vector<HANDLE> handles;
  CapturedRun run;
  for (;;) {
    if (exited && !readers[0]->open() && !readers[1]->open()) return run;
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
      run.end = CapturedRun::End::timed_out;
      return run;
    }
    // Notifications first: the wait names the lowest ready index, so a busy pipe
    // cannot hide a wake, and their indices are the wake indices.
    handles.clear();
    for (const WakeEvent* event : wake) {
      handles.push_back(reinterpret_cast<HANDLE>(event->native()));
    }
    if (!exited) handles.push_back(process.get());
    for (const PipeReader* reader : readers) {
      if (reader->open()) handles.push_back(reader->event());
    }
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                                FALSE, wait_milliseconds(left));
    if (result == WAIT_FAILED) return last_os_error();
    if (result == WAIT_TIMEOUT) continue;
    if (result - WAIT_OBJECT_0 < wake.size()) {
      run.end = CapturedRun::End::woken;
      run.woken_by = result - WAIT_OBJECT_0;
      return run;
    }
    // Everything that is ready, not only the one the wait named.
    if (!exited) exited = process.has_exited();
    for (PipeReader* reader : readers) {
      if (!reader->ready()) continue;
      if (auto read = reader->complete(); !read) return read.error();
    }
  }
}

}  // namespace

Result<CapturedRun> run_captured(const CaptureCommand& command, const CaptureLimits& limits,
                                 std::span<const WakeEvent* const> wake) {
  if (wake.size() + 3 > MAXIMUM_WAIT_OBJECTS) return Error{"too many wake events to wait on"};
  auto output = create_output_pipe();
  if (!output) return output.error();
  auto error_output = create_output_pipe();
  if (!error_output) return error_output.error();

  // A century is as good as no limit, and keeps the deadline from overflowing.
  const auto time_limit =
      std::min<std::chrono::nanoseconds>(limits.time_limit, std::chrono::hours(24 * 365 * 100));
  auto started = start(command, output.value(), error_output.value());
  if (!started) return started.error();
  // Any failure from here on leaves through it, which terminates the process.
  const std::unique_ptr<StartedProcess> process = std::move(started).value();
  const auto deadline = Clock::now() + time_limit;
  // Only the child holds the writing ends now, so each pipe ends when it (and whatever
  // it passed the end to) is done with it.
  output->theirs.reset();
  error_output->theirs.reset();

  std::unique_ptr<PipeReader> readers[2];
  OutputPipe* pipes[2] = {&output.value(), &error_output.value()};
  for (int s = 0; s < 2; ++s) {
    auto reader = PipeReader::create(std::move(pipes[s]->ours), limits.kept_bytes);
    if (!reader) return reader.error();
    readers[s] = std::move(reader).value();
    if (auto read = readers[s]->read_next(); !read) return read.error();
  }

  PipeReader* const watched[2] = {readers[0].get(), readers[1].get()};
  auto run = watch(*process, watched, deadline, wake);
  // Given up: the process ends with `process`, what it wrote is dropped.
  if (!run || run->end != CapturedRun::End::exited) return run;
  auto status = process->exit_status();
  if (!status) return status.error();
  run->exit_status = status.value();
  run->output = readers[0]->take();
  run->error_output = readers[1]->take();
  return run;
}

}  // namespace tallow::platform
