#include "platform/posix/process/exec_image.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <system_error>

#include "platform/os_error.h"
#include "platform/posix/process/descriptors.h"

extern char** environ;

namespace tallow::platform::posix {

namespace {

bool holds_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

}  // namespace

Result<void> ExecImage::prepare(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                                const std::vector<EnvironmentVariable>* environment,
                                const std::filesystem::path& directory) {
  // The child changes directory before execve, so a relative program path would be
  // resolved against the wrong one.
  std::error_code path_error;
  program_ = std::filesystem::absolute(program, path_error).native();
  if (path_error) return os_error(static_cast<std::uint32_t>(path_error.value()));
  directory_ = directory.native();
  if (program_.empty() || holds_nul(program_) || holds_nul(directory_)) return os_error(EINVAL);

  arguments_.clear();
  arguments_.push_back(program_);
  for (const auto& argument : arguments) {
    if (holds_nul(argument)) return os_error(EINVAL);
    arguments_.push_back(argument);
  }

  environment_.clear();
  if (environment) {
    for (const auto& variable : *environment) {
      if (holds_nul(variable.name) || holds_nul(variable.value)) return os_error(EINVAL);
      environment_.push_back(variable.name + "=" + variable.value);
    }
  } else {
    for (char** entry = environ; entry && *entry; ++entry) environment_.emplace_back(*entry);
  }

  // The pointer arrays are built last: the strings no longer move.
  argv_.clear();
  for (auto& argument : arguments_) argv_.push_back(argument.data());
  argv_.push_back(nullptr);
  envp_.clear();
  for (auto& variable : environment_) envp_.push_back(variable.data());
  envp_.push_back(nullptr);
  return {};
}

[[noreturn]] void exec_prepared(const ExecPlan& plan) noexcept {
  if (plan.own_group && ::setpgid(0, 0) != 0) fail_child(plan.report_fd, errno);
  // The parent blocked every signal around fork, so no inherited handler can run
  // before this reset; the mask is emptied only right before execve.
  reset_signal_dispositions();

  // The report channel is copied above the targets first, so that it survives placing
  // the standard streams whatever descriptor it sits on.
  int report = ::fcntl(plan.report_fd, F_DUPFD_CLOEXEC, 4);
  if (report < 0) fail_child(plan.report_fd, errno);
  const int sources[4] = {plan.stdin_fd, plan.stdout_fd, plan.stderr_fd, report};
  if (const int error = place_descriptors(sources, 4, 3); error != 0) fail_child(report, error);
  report = 3;  // close-on-exec: a successful execve closes it, which tells the parent

  const char* directory = plan.image->directory();
  if (directory && ::chdir(directory) != 0) fail_child(report, errno);

  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  ::execve(plan.image->program(), plan.image->argv(), plan.image->envp());
  fail_child(report, errno);
}

Result<Pipe> open_pipe() {
  // Close-on-exec, so a program another thread starts meanwhile cannot hold an end open.
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return last_os_error();
  return Pipe{File(ends[0]), File(ends[1])};
}

// Through syscall: glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
File open_pidfd(pid_t pid) { return File(::syscall(SYS_pidfd_open, pid, 0U)); }

AllSignalsBlocked::AllSignalsBlocked() {
  sigset_t all;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous_);
}

AllSignalsBlocked::~AllSignalsBlocked() {
  const int saved = errno;
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  errno = saved;
}

}  // namespace tallow::platform::posix
