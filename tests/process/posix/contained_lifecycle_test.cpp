// How the contained agent's end is reported on Linux, and the two ways of stopping it.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "agent_side/agent_side.h"
#include "platform/process.h"
#include "process/posix/probe_support.h"
#include "support/test_support.h"
#include "support/process_support.h"

namespace tallow::test::posix {
namespace {

using platform::ExitStatus;

constexpr ExitStatus code(std::uint32_t value) { return {ExitStatus::Kind::code, value}; }
constexpr ExitStatus signal_end(std::uint32_t value) { return {ExitStatus::Kind::signal, value}; }

// The sanitizer runtime would turn a SIGSEGV into an exit with its own report.
const std::vector<platform::EnvironmentVariable> kNoSanitizerSegvHandler = {
    {"ASAN_OPTIONS", "handle_segv=0"}};

class PosixContainedExitCode : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(PosixContainedExitCode, RoundTrips) {
  TempDir dir;
  auto child = spawn_probe({"exit", std::to_string(GetParam())}, dir);
  ASSERT_TRUE(child);
  auto status = child->wait_exit();
  ASSERT_TRUE(status.ok()) << status.error().message;
  EXPECT_EQ(status.value(), code(GetParam()));
  // Asking again gives the same answer.
  EXPECT_EQ(child->wait_exit().value(), code(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Codes, PosixContainedExitCode, ::testing::Values(0u, 1u, 3u, 42u, 127u, 255u));

TEST(PosixContainedLifecycle, TerminateIsReportedAsExitCodeOne) {
  TempDir dir;
  auto child = spawn_probe({"idle"}, dir);
  ASSERT_TRUE(child);
  child->terminate();
  auto status = child->wait_exit();
  ASSERT_TRUE(status.ok());
  EXPECT_EQ(status.value(), code(1));
  EXPECT_FALSE(running(static_cast<pid_t>(child->pid())));
}

TEST(PosixContainedLifecycle, TerminateAfterTheAgentEndedKeepsItsOwnCode) {
  TempDir dir;
  auto child = spawn_probe({"exit", "5"}, dir);
  ASSERT_TRUE(child);
  auto woken = child->wait_exit_or({});
  ASSERT_TRUE(woken.ok());
  EXPECT_FALSE(woken.value().has_value());
  child->terminate();
  EXPECT_EQ(child->wait_exit().value(), code(5));
  child->terminate();  // after the wait: harmless
}

TEST(PosixContainedLifecycle, DeathBySignalIsReportedAsTheSignal) {
  TempDir dir;
  auto crash = platform::spawn_contained(probe_command({"crash"}, dir / "agent.log", kNoSanitizerSegvHandler));
  ASSERT_TRUE(crash.ok()) << crash.error().message;
  EXPECT_EQ(crash.value()->wait_exit().value(), signal_end(SIGSEGV));

  struct External {
    int signal;
  };
  for (const External external : {External{SIGSEGV}, External{SIGKILL}, External{SIGTERM}}) {
    auto child = platform::spawn_contained(
        probe_command({"idle", (dir / "ready").string()}, dir / "agent.log", kNoSanitizerSegvHandler));
    ASSERT_TRUE(child.ok()) << child.error().message;
    wait_for_pids(dir / "ready");
    std::filesystem::remove(dir / "ready");
    // An end by SIGKILL from anyone but the keeper is no forced stop: it stays a signal.
    ASSERT_EQ(::kill(static_cast<pid_t>(child.value()->pid()), external.signal), 0);
    EXPECT_EQ(child.value()->wait_exit().value(), signal_end(static_cast<std::uint32_t>(external.signal)));
  }
}

TEST(PosixContainedLifecycle, WaitWakesForARaisedNotificationOrTheEnd) {
  TempDir dir;
  auto child = spawn_probe({"idle"}, dir);
  ASSERT_TRUE(child);
  auto first = platform::WakeEvent::create();
  auto second = platform::WakeEvent::create();
  ASSERT_TRUE(first.ok() && second.ok());
  const platform::WakeEvent* wake[] = {first.value().get(), second.value().get()};

  second.value()->raise();
  auto woken = child->wait_exit_or(wake);
  ASSERT_TRUE(woken.ok());
  EXPECT_EQ(woken.value(), std::optional<std::size_t>(1));

  child->terminate();
  const platform::WakeEvent* none[] = {first.value().get()};
  woken = child->wait_exit_or(none);
  ASSERT_TRUE(woken.ok());
  EXPECT_EQ(woken.value(), std::nullopt);
  EXPECT_EQ(child->wait_exit().value(), code(1));
  // Once reaped, the end is still the answer.
  EXPECT_EQ(child->wait_exit_or(wake).value(), std::nullopt);
}

TEST(PosixContainedLifecycle, GracefulStopReachesTheAgentsGroupOnly) {
  TempDir dir;
  // A bystander in the tray's own process group, which must not get the stop.
  const auto bystander = tallow::agent_side::spawn_detached(
      probe_program(), {"await_stop", (dir / "bystander.ready").string(), (dir / "bystander.mark").string(), "0"});
  ASSERT_TRUE(bystander.ok()) << bystander.error().message;
  const pid_t bystander_pid = static_cast<pid_t>(bystander.value());
  wait_for_pids(dir / "bystander.ready");
  EXPECT_EQ(::getpgid(bystander_pid), ::getpgrp());

  auto child = spawn_probe({"stop_family", (dir / "ready").string(), (dir / "mark").string(), "7"}, dir);
  ASSERT_TRUE(child);
  const auto pids = wait_for_pids(dir / "ready");
  ASSERT_EQ(pids.size(), 2u);
  EXPECT_EQ(pids[0], static_cast<pid_t>(child->pid()));
  EXPECT_EQ(::getpgid(pids[1]), pids[0]);

  const platform::StopRequestSender stop = child->stop_request_sender();
  EXPECT_TRUE(stop());
  auto status = child->wait_exit();
  ASSERT_TRUE(status.ok());
  EXPECT_EQ(status.value(), code(7));
  EXPECT_EQ(read_file(dir / "mark"), "stopped");
  EXPECT_EQ(read_file(dir / "mark.mate"), "stopped");
  EXPECT_FALSE(running(pids[1]));

  // This process shares the bystander's group and has no SIGTERM handler: reaching
  // this line already says the group was spared.
  EXPECT_TRUE(running(bystander_pid));
  EXPECT_FALSE(std::filesystem::exists(dir / "bystander.mark"));
  test::kill_process(bystander.value());
  EXPECT_TRUE(wait_until([&] { return !running(bystander_pid); }));
}

TEST(PosixContainedLifecycle, StopSenderOutlivesTheChildHarmlessly) {
  TempDir dir;
  platform::StopRequestSender stop;
  {
    auto child = spawn_probe({"exit", "0"}, dir);
    ASSERT_TRUE(child);
    stop = child->stop_request_sender();
    EXPECT_EQ(child->wait_exit().value(), code(0));
    // The keeper has ended: nobody takes the request.
    EXPECT_FALSE(stop());
  }
  EXPECT_FALSE(stop());
}

TEST(PosixContainedLifecycle, AKeeperKilledFromOutsideIsReportedAndTakesTheAgentAlong) {
  TempDir dir;
  auto child = spawn_probe({"idle", (dir / "ready").string()}, dir);
  ASSERT_TRUE(child);
  wait_for_pids(dir / "ready");
  const pid_t agent = static_cast<pid_t>(child->pid());
  const pid_t keeper = parent_of(agent);
  ASSERT_GT(keeper, 1);
  ASSERT_EQ(::kill(keeper, SIGKILL), 0);
  auto status = child->wait_exit();
  ASSERT_TRUE(status.ok()) << status.error().message;
  EXPECT_EQ(status.value(), signal_end(SIGKILL));
  // The tray now believes the agent ended; it must not run on unwatched.
  EXPECT_TRUE(wait_until([&] { return !running(agent); }));
}

TEST(PosixContainedLifecycle, DroppingTheChildLeavesTheAgentRunning) {
  TempDir dir;
  auto child = spawn_probe({"family", (dir / "ready").string()}, dir);
  ASSERT_TRUE(child);
  const auto pids = wait_for_pids(dir / "ready");
  ASSERT_EQ(pids.size(), 2u);
  const pid_t keeper = parent_of(pids[0]);
  child.reset();

  // The keeper lets go of the control channel once it sees the tray's end of it closed.
  EXPECT_TRUE(wait_until([&] { return !open_descriptors(keeper).contains(4); }));
  EXPECT_TRUE(running(pids[0]));
  EXPECT_TRUE(running(pids[1]));
  // Even without the tray listening, the keeper still ends the family with the agent.
  test::kill_process(static_cast<std::uint32_t>(pids[0]));
  int keeper_status = 0;
  ASSERT_EQ(::waitpid(keeper, &keeper_status, 0), keeper);
  EXPECT_TRUE(WIFEXITED(keeper_status) && WEXITSTATUS(keeper_status) == 0);
  EXPECT_FALSE(running(pids[0]));
  EXPECT_FALSE(running(pids[1]));
}

}  // namespace
}  // namespace tallow::test::posix
