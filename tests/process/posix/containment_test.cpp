// The agent's descendants end with it on Linux, however it ends, and also when the
// process that started it is long gone.

#include <signal.h>
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "agent_side/agent_side.h"
#include "platform/process.h"
#include "process/posix/probe_support.h"
#include "support/test_support.h"
#include "support/process_support.h"

namespace tallow::test::posix {
namespace {

using namespace std::chrono_literals;

enum class Ending { by_itself, terminate, graceful_stop, killed_from_outside };

struct EndingCase {
  const char* name;
  Ending ending;
  friend void PrintTo(const EndingCase& c, std::ostream* out) { *out << c.name; }
};

class PosixContainment : public ::testing::TestWithParam<EndingCase> {};

TEST_P(PosixContainment, GrandchildEndsWithTheAgent) {
  TempDir dir;
  const bool by_itself = GetParam().ending == Ending::by_itself;
  std::vector<std::string> arguments = {"family", (dir / "ready").string()};
  if (by_itself) arguments.push_back("exit");
  auto child = spawn_probe(arguments, dir);
  ASSERT_TRUE(child);
  const auto pids = wait_for_pids(dir / "ready");
  ASSERT_EQ(pids.size(), 2u);
  const pid_t grandchild = pids[1];
  if (!by_itself) {
    // Already orphaned (spawn_detached's middle process is gone) and adopted by the keeper.
    EXPECT_EQ(parent_of(grandchild), parent_of(pids[0]));
  }

  switch (GetParam().ending) {
    case Ending::by_itself:
      break;
    case Ending::terminate:
      child->terminate();
      break;
    case Ending::graceful_stop:
      EXPECT_TRUE(child->stop_request_sender()());
      break;
    case Ending::killed_from_outside:
      ASSERT_EQ(::kill(pids[0], SIGKILL), 0);
      break;
  }
  auto status = child->wait_exit();
  ASSERT_TRUE(status.ok()) << status.error().message;
  EXPECT_TRUE(wait_until([&] { return !running(grandchild); }, 2s));
  EXPECT_FALSE(running(pids[0]));
}

INSTANTIATE_TEST_SUITE_P(Endings, PosixContainment,
                         ::testing::Values(EndingCase{"by_itself", Ending::by_itself},
                                           EndingCase{"terminate", Ending::terminate},
                                           EndingCase{"graceful_stop", Ending::graceful_stop},
                                           EndingCase{"killed_from_outside", Ending::killed_from_outside}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PosixContainmentAfterTray, TrayExitLeavesTheAgentRunningAndItsEndStillEndsTheFamily) {
  TempDir dir;
  const auto tray = tallow::agent_side::spawn_detached(
      program_path("spawn_and_exit"),
      {(dir / "agent.pid").string(), (dir / "agent.log").string(), probe_program().string(), "family",
       (dir / "ready").string()});
  ASSERT_TRUE(tray.ok()) << tray.error().message;
  const auto agent = wait_for_pids(dir / "agent.pid");
  ASSERT_EQ(agent.size(), 1u);
  const auto pids = wait_for_pids(dir / "ready");
  ASSERT_EQ(pids.size(), 2u);
  EXPECT_EQ(pids[0], agent[0]);
  ASSERT_TRUE(wait_until([&] { return !running(static_cast<pid_t>(tray.value())); }));

  const pid_t keeper = parent_of(agent[0]);
  EXPECT_NE(keeper, static_cast<pid_t>(tray.value()));
  EXPECT_TRUE(running(keeper));
  EXPECT_TRUE(running(pids[0]));
  EXPECT_TRUE(running(pids[1]));

  test::kill_process(static_cast<std::uint32_t>(agent[0]));
  EXPECT_TRUE(wait_until([&] { return !running(pids[1]); }, 2s));
  EXPECT_TRUE(wait_until([&] { return !running(pids[0]); }, 2s));
  EXPECT_TRUE(wait_until([&] { return !running(keeper); }, 2s));
}

}  // namespace
}  // namespace tallow::test::posix
