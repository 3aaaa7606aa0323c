// The detached start and the pid-based helpers on Linux.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "agent_side/agent_side.h"
#include "platform/process.h"
#include "process/posix/probe_support.h"
#include "support/test_support.h"
#include "support/process_support.h"

namespace tallow::test::posix {
namespace {

TEST(PosixDetachedSpawn, ProgramRunsUnparentedWithOnlyTheNullDevice) {
  TempDir dir;
  const int inheritable = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(inheritable, 0);
  const auto pid = tallow::agent_side::spawn_detached(probe_program(), {"idle", (dir / "ready").string()});
  ::close(inheritable);
  ASSERT_TRUE(pid.ok()) << pid.error().message;
  const auto reported = wait_for_pids(dir / "ready");
  ASSERT_EQ(reported, std::vector<pid_t>{static_cast<pid_t>(pid.value())});

  const pid_t child = static_cast<pid_t>(pid.value());
  EXPECT_TRUE(test::is_process_running(pid.value()));
  // Not ours to reap.
  EXPECT_NE(parent_of(child), ::getpid());
  EXPECT_EQ(::waitpid(child, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(open_descriptors(child), (std::set<int>{0, 1, 2}));
  for (const int fd : {0, 1, 2}) EXPECT_EQ(descriptor_target(child, fd), "/dev/null");

  test::kill_process(pid.value());
  EXPECT_TRUE(wait_until([&] { return !test::is_process_running(pid.value()); }));
}

TEST(PosixDetachedSpawn, FailedExecIsReported) {
  TempDir dir;
  write_file(dir / "plain", "not a program");
  const auto pid = tallow::agent_side::spawn_detached(dir / "plain", {});
  ASSERT_FALSE(pid.ok());
  EXPECT_NE(pid.error().message.find("(os error 13)"), std::string::npos) << pid.error().message;
}

TEST(PosixProcessRunning, TellsLivingFromZombieAndMissing) {
  EXPECT_TRUE(test::is_process_running(platform::current_process_id()));
  EXPECT_FALSE(test::is_process_running(0));
  EXPECT_FALSE(test::is_process_running(0xFFFFFFF0u));

  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  // Ended but not reaped yet: a zombie is not running.
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(test::is_process_running(static_cast<std::uint32_t>(child)));
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  EXPECT_FALSE(test::is_process_running(static_cast<std::uint32_t>(child)));
}

TEST(PosixProcessRunning, AThreadIdIsNoProcess) {
  std::atomic<pid_t> thread_id{0};
  std::atomic<bool> done{false};
  std::thread thread([&] {
    thread_id = ::gettid();
    while (!done) std::this_thread::yield();
  });
  ASSERT_TRUE(wait_until([&] { return thread_id.load() != 0; }));
  // /proc/<thread id> exists, yet no process has that id.
  EXPECT_TRUE(std::filesystem::exists("/proc/" + std::to_string(thread_id.load())));
  EXPECT_FALSE(test::is_process_running(static_cast<std::uint32_t>(thread_id.load())));
  done = true;
  thread.join();
}

TEST(PosixProcessRunning, KillProcessIgnoresIdsThatNameGroups) {
  // 0 and ids above INT_MAX would be process groups or "everyone" for kill(2).
  test::kill_process(0);
  test::kill_process(0xFFFFFFFFu);
  SUCCEED();
}

TEST(PosixProcessSelf, AProgramReplacedWhileItRunsStillNamesItsPath) {
  TempDir dir;
  const auto program = dir / "probe";
  std::filesystem::copy_file(probe_program(), program);
  const std::string command = "'" + program.string() + "' replaced_self '" + (dir / "self").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(read_file(dir / "self"), program.string());
}

}  // namespace
}  // namespace tallow::test::posix
