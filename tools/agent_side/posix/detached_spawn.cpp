#include "agent_side/agent_side.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/os_error.h"
#include "platform/posix/process/descriptors.h"
#include "platform/posix/process/exec_image.h"

namespace tallow::agent_side {

using namespace platform;

Result<std::uint32_t> spawn_detached(const std::filesystem::path& program,
                                     const std::vector<std::string>& arguments) {
  posix::ExecImage image;
  if (auto prepared = image.prepare(program, arguments, nullptr, {}); !prepared) {
    return prepared.error();
  }

  const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (null_fd < 0) return last_os_error();
  const File null_device(null_fd);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return last_os_error();
  File report_read(report[0]);
  File report_write(report[1]);

  // The middle process exits as soon as it has forked, so the program is orphaned at
  // once and adopted by init (or the nearest subreaper): nobody here has to reap it.
  pid_t middle;
  int fork_error = 0;
  {
    posix::AllSignalsBlocked blocked;
    middle = ::fork();
    if (middle == 0) {
      const pid_t started = ::_Fork();
      if (started == 0) posix::exec_prepared({&image, null_fd, null_fd, null_fd, report[1]});
      if (started < 0) {
        posix::write_record(report[1], posix::kRecordFailed, errno);
      } else {
        posix::write_record(report[1], posix::kRecordStarted, started);
      }
      ::_exit(0);
    }
    fork_error = errno;
  }
  if (middle < 0) return os_error(static_cast<std::uint32_t>(fork_error));
  report_write.reset();
  int ignored = 0;
  while (::waitpid(middle, &ignored, 0) < 0 && errno == EINTR) {
  }

  // The pipe reaches its end once the program's execve has closed it: by then the
  // records say the pid and whether the execve failed.
  posix::ChildRecord records[2];
  const ssize_t got = posix::read_full(static_cast<int>(report_read.native()), records,
                                       sizeof records);
  const std::size_t count = got > 0 ? static_cast<std::size_t>(got) / sizeof(posix::ChildRecord) : 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (records[i].kind == posix::kRecordFailed) {
      return os_error(static_cast<std::uint32_t>(records[i].value));
    }
  }
  if (count == 0 || records[0].kind != posix::kRecordStarted) {
    return Error{"The program could not be started"};
  }
  return static_cast<std::uint32_t>(records[0].value);
}

}  // namespace tallow::agent_side
