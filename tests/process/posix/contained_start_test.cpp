// What the contained agent starts with on Linux: its process group, descriptors,
// signal state and standard streams, and how a failed start is reported.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "agent_side/agent_side.h"
#include "platform/file.h"
#include "platform/process.h"
#include "process/posix/probe_support.h"
#include "support/test_support.h"

namespace tallow::test::posix {
namespace {

using platform::ExitStatus;

// An idle probe, ended and reaped at the end of the test.
struct IdleProbe {
  explicit IdleProbe(const TempDir& dir) : child(spawn_probe({"idle", (dir / "ready").string()}, dir)) {
    if (child) pid = static_cast<pid_t>(child->pid());
    // Ready means the probe's startup (loader, runtime) is over.
    if (child) wait_for_pids(dir / "ready");
  }
  ~IdleProbe() {
    if (!child) return;
    child->terminate();
    (void)child->wait_exit();
  }
  std::unique_ptr<platform::ChildProcess> child;
  pid_t pid = -1;
};

TEST(PosixContainedStart, AgentLeadsItsOwnProcessGroup) {
  TempDir dir;
  IdleProbe probe(dir);
  ASSERT_TRUE(probe.child);
  EXPECT_EQ(::getpgid(probe.pid), probe.pid);
  EXPECT_NE(::getpgid(probe.pid), ::getpgrp());
}

TEST(PosixContainedStart, KeeperStandsBetweenTrayAndAgentInAGroupOfItsOwn) {
  TempDir dir;
  IdleProbe probe(dir);
  ASSERT_TRUE(probe.child);
  const pid_t keeper = parent_of(probe.pid);
  ASSERT_GT(keeper, 1);
  EXPECT_NE(keeper, ::getpid());
  EXPECT_EQ(parent_of(keeper), ::getpid());
  EXPECT_EQ(::getpgid(keeper), keeper);
  EXPECT_NE(::getpgid(keeper), ::getpgrp());
  EXPECT_EQ(status_field(keeper, "Name").value_or(""), "tallow-keeper");
}

TEST(PosixContainedStart, OnlyStandardStreamsReachTheAgentAndNoTrayDescriptorTheKeeper) {
  TempDir dir;
  // Inheritable on purpose: only the spawn itself may keep it from the agent.
  const int inheritable = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(inheritable, 0);
  // A held lock must not be kept alive by the keeper once the tray releases it.
  auto lock = agent_side::lock_file_exclusively(dir / "tray.lock");
  ASSERT_TRUE(lock.ok());

  IdleProbe probe(dir);
  ASSERT_TRUE(probe.child);
  { auto released = std::move(lock.value()); }
  ::close(inheritable);

  EXPECT_EQ(open_descriptors(probe.pid), (std::set<int>{0, 1, 2}));
  // The keeper holds the agent's streams, its two channels to the tray and its child
  // watch; nothing of the tray.
  const pid_t keeper = parent_of(probe.pid);
  EXPECT_EQ(open_descriptors(keeper), (std::set<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_FALSE(platform::is_file_locked_elsewhere(dir / "tray.lock"));
}

TEST(PosixContainedStart, StandardInputIsTheNullDeviceAndOutputAppendsToTheLog) {
  TempDir dir;
  IdleProbe probe(dir);
  ASSERT_TRUE(probe.child);
  const auto log = std::filesystem::canonical(dir / "agent.log").string();
  EXPECT_EQ(descriptor_target(probe.pid, 0), "/dev/null");
  EXPECT_EQ(descriptor_target(probe.pid, 1), log);
  EXPECT_EQ(descriptor_target(probe.pid, 2), log);
  for (const int fd : {1, 2}) {
    const auto flags = proc_field("/proc/" + std::to_string(probe.pid) + "/fdinfo/" + std::to_string(fd),
                                  "flags");
    ASSERT_TRUE(flags);
    EXPECT_NE(std::stoul(*flags, nullptr, 8) & O_APPEND, 0u) << "fd " << fd;
  }
}

TEST(PosixContainedStart, StandardOutputAndErrorAppendInOrder) {
  TempDir dir;
  write_file(dir / "agent.log", "earlier line\n");
  auto child = spawn_probe({"print"}, dir);
  ASSERT_TRUE(child);
  auto status = child->wait_exit();
  ASSERT_TRUE(status.ok());
  EXPECT_EQ(status.value(), (ExitStatus{ExitStatus::Kind::code, 0}));
  EXPECT_EQ(read_file(dir / "agent.log"), "earlier line\nprobe-out\nprobe-err\n");
}

TEST(PosixContainedStart, SignalStateStartsCleanWhateverTheSpawningThreadHas) {
  TempDir dir;
  sigset_t blocked, previous_mask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGCHLD);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previous_mask), 0);
  struct sigaction ignore {}, previous_usr2 {}, previous_hup {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGUSR2, &ignore, &previous_usr2), 0);
  ASSERT_EQ(::sigaction(SIGHUP, &ignore, &previous_hup), 0);

  IdleProbe probe(dir);

  ::sigaction(SIGHUP, &previous_hup, nullptr);
  ::sigaction(SIGUSR2, &previous_usr2, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
  ASSERT_TRUE(probe.child);
  EXPECT_EQ(status_field(probe.pid, "SigBlk").value_or("?"), "0000000000000000");
  EXPECT_EQ(status_field(probe.pid, "SigIgn").value_or("?"), "0000000000000000");
}

TEST(PosixContainedStart, ArgumentsEnvironmentAndDirectoryReachTheAgent) {
  TempDir dir;
  std::filesystem::create_directory(dir / "work");
  auto command = probe_command({"idle", (dir / "ready").string()}, dir / "agent.log",
                               {{"TALLOW_PROBE", "value with spaces"}});
  command.working_directory = dir / "work";
  auto child = platform::spawn_contained(std::move(command));
  ASSERT_TRUE(child.ok()) << child.error().message;
  const pid_t pid = static_cast<pid_t>(child.value()->pid());
  wait_for_pids(dir / "ready");

  std::string cmdline = read_file("/proc/" + std::to_string(pid) + "/cmdline");
  EXPECT_EQ(cmdline, probe_program().string() + '\0' + "idle" + '\0' + (dir / "ready").string() + '\0');
  const std::string environment = read_file("/proc/" + std::to_string(pid) + "/environ");
  EXPECT_NE(environment.find(std::string("TALLOW_PROBE=value with spaces") + '\0'), std::string::npos);
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd"),
            std::filesystem::canonical(dir / "work"));
  child.value()->terminate();
  (void)child.value()->wait_exit();
}

struct StartFailure {
  const char* name;
  const char* content;   // nullptr: nothing is created
  mode_t mode;
  bool directory;
  bool missing_working_directory;
  const char* expected;
  friend void PrintTo(const StartFailure& c, std::ostream* out) { *out << c.name; }
};

class PosixContainedStartFailure : public ::testing::TestWithParam<StartFailure> {};

TEST_P(PosixContainedStartFailure, IsReportedAsTheOsError) {
  const StartFailure& failure = GetParam();
  TempDir dir;
  const auto program = dir / "program";
  if (failure.directory) {
    std::filesystem::create_directory(program);
  } else if (failure.content) {
    write_file(program, failure.content);
    ASSERT_EQ(::chmod(program.c_str(), failure.mode), 0);
  }
  auto output = platform::open_log_for_append(dir / "agent.log");
  ASSERT_TRUE(output.ok());
  platform::AgentCommand command{
      failure.missing_working_directory ? probe_program() : program, {}, platform::environment_with({}),
      failure.missing_working_directory ? dir / "gone" : dir.path(), std::move(output.value())};

  auto child = platform::spawn_contained(std::move(command));
  ASSERT_FALSE(child.ok());
  EXPECT_NE(child.error().message.find(failure.expected), std::string::npos) << child.error().message;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PosixContainedStartFailure,
    ::testing::Values(
        StartFailure{"not_executable", "#!/bin/sh\nexit 0\n", 0644, false, false, "(os error 13)"},
        StartFailure{"unknown_format", "\x01\x02 not a program", 0755, false, false, "(os error 8)"},
        StartFailure{"missing", nullptr, 0, false, false, "No such file or directory (os error 2)"},
        StartFailure{"directory", nullptr, 0, true, false, "(os error 13)"},
        StartFailure{"missing_working_directory", nullptr, 0, false, true, "(os error 2)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tallow::test::posix
