// The contained start on Windows, against a real child: what it is started with,
// how its exit is reported, and that its descendants end with it and not with us.

#include <windows.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/environment.h"
#include "platform/file.h"
#include "agent_side/agent_side.h"
#include "platform/process.h"
#include "support/process_support.h"
#include "support/test_support.h"

namespace tallow::platform {
namespace {

using test::is_process_running;
using test::kill_process;
using test::TempDir;
using test::wait_until;

AgentCommand probe_command(const TempDir& dir, std::vector<std::string> arguments) {
  AgentCommand command;
  command.program = test::program_path("win_spawn_probe");
  command.arguments = std::move(arguments);
  command.environment = environment_with({});
  command.working_directory = dir.path();
  auto log = open_log_for_append(dir / "probe.log");
  EXPECT_TRUE(log.ok()) << log.error().message;
  if (log) command.output = std::move(log.value());
  return command;
}

std::unique_ptr<ChildProcess> spawn(AgentCommand command) {
  auto child = spawn_contained(std::move(command));
  EXPECT_TRUE(child.ok()) << child.error().message;
  return child ? std::move(child).value() : nullptr;
}

// Waits for the child's end, but gives up (and ends it) rather than hang the run.
std::optional<ExitStatus> exit_of(ChildProcess& child) {
  if (!wait_until([&] { return !is_process_running(child.pid()); })) {
    child.terminate();
    ADD_FAILURE() << "child " << child.pid() << " did not end";
  }
  auto status = child.wait_exit();
  if (!status) return std::nullopt;
  return status.value();
}

// A probe whose descendants are gone once it is, whatever happened.
class ProbeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::uint32_t pid : cleanup_) kill_process(pid);
  }
  void clean_up_later(std::uint32_t pid) { cleanup_.push_back(pid); }

  TempDir dir_{"win-spawn"};

 private:
  std::vector<std::uint32_t> cleanup_;
};

TEST_F(ProbeTest, ReportsAllThirtyTwoBitsOfTheExitCode) {
  for (const std::uint32_t code : {0u, 7u, 256u, 0xC0000005u}) {
    auto child = spawn(probe_command(dir_, {"exit", std::to_string(code)}));
    ASSERT_TRUE(child);
    EXPECT_NE(child->pid(), 0u);
    EXPECT_EQ(exit_of(*child), (ExitStatus{ExitStatus::Kind::code, code}));
  }
}

TEST_F(ProbeTest, StartsWithTheArgumentsEnvironmentDirectoryAndStandardHandlesGiven) {
  const std::vector<std::string> arguments = {
      "", "two words", "quote\"inside", "trailing\\", "space trailing\\", "\\\\\"", "\t",
      "J\u00f6rg \u65e5\u672c"};
  std::vector<std::string> command_arguments = {"report", path_text(dir_ / "report.json")};
  command_arguments.insert(command_arguments.end(), arguments.begin(), arguments.end());
  auto command = probe_command(dir_, command_arguments);
  command.environment = environment_with({{"tallow_probe", "value \u00fc"}});
  auto child = spawn(std::move(command));
  ASSERT_TRUE(child);
  EXPECT_EQ(exit_of(*child), (ExitStatus{ExitStatus::Kind::code, 0}));

  const auto report = nlohmann::json::parse(test::read_file(dir_ / "report.json"), nullptr, false);
  ASSERT_FALSE(report.is_discarded());
  EXPECT_EQ(report["args"].get<std::vector<std::string>>(), arguments);
  EXPECT_EQ(report["probe"], "value \u00fc");
  EXPECT_TRUE(std::filesystem::equivalent(path_from_text(report["cwd"].get<std::string>()),
                                          dir_.path()));
  // Standard input is the null device, so reading it ended at once.
  EXPECT_EQ(report["stdin_bytes"], 0);
  // Both output streams reach the log, appended in the order written.
  EXPECT_EQ(test::read_file(dir_ / "probe.log"), "probe-out\r\nprobe-err\r\n");
}

TEST_F(ProbeTest, TerminateReportsExitCodeOne) {
  auto child = spawn(probe_command(dir_, {"wait"}));
  ASSERT_TRUE(child);
  clean_up_later(child->pid());
  EXPECT_TRUE(is_process_running(child->pid()));
  child->terminate();
  EXPECT_EQ(exit_of(*child), (ExitStatus{ExitStatus::Kind::code, 1}));
  // Ending an ended child changes nothing.
  child->terminate();
  EXPECT_EQ(exit_of(*child), (ExitStatus{ExitStatus::Kind::code, 1}));
}

TEST_F(ProbeTest, DescendantsEndWhenTheChildEnds) {
  auto child = spawn(probe_command(dir_, {"family", path_text(dir_ / "grandchild.pid")}));
  ASSERT_TRUE(child);
  clean_up_later(child->pid());
  std::optional<std::string> pid_text;
  ASSERT_TRUE(wait_until([&] { return (pid_text = read_regular_file(dir_ / "grandchild.pid", 64)).has_value(); }));
  const auto grandchild = static_cast<std::uint32_t>(std::stoul(*pid_text));
  clean_up_later(grandchild);
  EXPECT_TRUE(is_process_running(grandchild));

  child->terminate();
  EXPECT_EQ(exit_of(*child), (ExitStatus{ExitStatus::Kind::code, 1}));
  EXPECT_TRUE(wait_until([&] { return !is_process_running(grandchild); }));
}

TEST_F(ProbeTest, ReleasingTheChildLeavesItRunning) {
  auto child = spawn(probe_command(dir_, {"await", path_text(dir_ / "go"), path_text(dir_ / "done")}));
  ASSERT_TRUE(child);
  const std::uint32_t pid = child->pid();
  clean_up_later(pid);
  const StopRequestSender sender = child->stop_request_sender();
  child.reset();
  // Only a child still running can answer the go.
  test::write_file(dir_ / "go", "");
  EXPECT_TRUE(wait_until([&] { return std::filesystem::exists(dir_ / "done"); }));
  EXPECT_TRUE(wait_until([&] { return !is_process_running(pid); }));
  // The sender outlives the child and its ChildProcess, and does nothing then.
  EXPECT_FALSE(sender());
}

TEST_F(ProbeTest, WaitExitOrWakesForTheRaisedNotification) {
  auto first = WakeEvent::create();
  auto second = WakeEvent::create();
  ASSERT_TRUE(first.ok() && second.ok());
  const WakeEvent* wake[] = {first.value().get(), second.value().get()};

  auto child = spawn(probe_command(dir_, {"wait"}));
  ASSERT_TRUE(child);
  clean_up_later(child->pid());
  std::thread raiser([&] { second.value()->raise(); });
  const auto woken = child->wait_exit_or(wake);
  raiser.join();
  ASSERT_TRUE(woken.ok()) << woken.error().message;
  EXPECT_EQ(woken.value(), std::optional<std::size_t>(1));

  child->terminate();
  const auto ended = child->wait_exit_or(std::span<const WakeEvent* const>(wake, 1));
  ASSERT_TRUE(ended.ok());
  EXPECT_EQ(ended.value(), std::nullopt);
}

TEST_F(ProbeTest, TheStopRequestEndsTheChildGracefullyWhenItCanBeDelivered) {
  auto child = spawn(probe_command(dir_, {"wait"}));
  ASSERT_TRUE(child);
  clean_up_later(child->pid());
  if (!child->stop_request_sender()()) {
    // Needs a console of the child's that we may attach to; without one (a test
    // run inside a console, or Wine) the supervisor ends the child by force.
    child->terminate();
    EXPECT_EQ(exit_of(*child), (ExitStatus{ExitStatus::Kind::code, 1}));
    GTEST_SKIP() << "console break not deliverable here";
  }
  EXPECT_EQ(exit_of(*child), (ExitStatus{ExitStatus::Kind::code, 3}));
}

TEST_F(ProbeTest, AMissingProgramFailsWithTheSystemsReason) {
  auto command = probe_command(dir_, {});
  command.program = dir_ / "missing.exe";
  const auto child = spawn_contained(std::move(command));
  ASSERT_FALSE(child.ok());
  EXPECT_NE(child.error().message.find("(os error 2)"), std::string::npos) << child.error().message;
}

TEST_F(ProbeTest, WithoutAnOutputTheChildWritesToTheNullDevice) {
  auto command = probe_command(dir_, {"report", path_text(dir_ / "report.json")});
  command.output = File();
  auto child = spawn(std::move(command));
  ASSERT_TRUE(child);
  EXPECT_EQ(exit_of(*child), (ExitStatus{ExitStatus::Kind::code, 0}));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "report.json"));
}

TEST_F(ProbeTest, SpawnDetachedIsRunningUntilKilled) {
  auto pid = tallow::agent_side::spawn_detached(test::program_path("win_spawn_probe"), {"wait"});
  ASSERT_TRUE(pid.ok()) << pid.error().message;
  clean_up_later(pid.value());
  EXPECT_TRUE(is_process_running(pid.value()));
  kill_process(pid.value());
  EXPECT_TRUE(wait_until([&] { return !is_process_running(pid.value()); }));
  EXPECT_FALSE(is_process_running(0));
}

}  // namespace
}  // namespace tallow::platform
