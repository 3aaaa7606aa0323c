// On Linux a captured run that is given up ends the program's whole process group:
// what the program started goes with it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "platform/captured_process.h"
#include "support/test_support.h"
#include "support/process_support.h"

namespace tallow::test::posix {
namespace {

using namespace std::chrono_literals;

TEST(PosixCapturedProcess, AGivenUpRunEndsTheProgramsWholeGroup) {
  TempDir dir;
  auto wake = platform::WakeEvent::create();
  ASSERT_TRUE(wake);
  std::uint32_t grandchild = 0;
  pid_t group = 0;
  std::thread waker([&] {
    wait_until(
        [&] { return (grandchild = std::atoi(read_file(dir / "grandchild.pid").c_str())) != 0; });
    group = ::getpgid(static_cast<pid_t>(grandchild));
    wake.value()->raise();
  });
  const platform::WakeEvent* const events[] = {wake->get()};
  const auto run = platform::run_captured(
      {program_path("tallowmered"),
       {"--state-directory=" + dir.path().string(), "enroll", "CODE", "--hub=h"},
       platform::environment_with(
           {{"TALLOWMERED_ENROLL_HANG", "1"}, {"TALLOWMERED_GRANDCHILD", "1"}})},
      {1h, 1024}, events);
  waker.join();
  ASSERT_TRUE(run) << run.error().message;
  EXPECT_EQ(run->end, platform::CapturedRun::End::woken);
  ASSERT_NE(grandchild, 0u);
  // The grandchild shared the program's own group, not the test's.
  EXPECT_NE(group, ::getpgrp());
  EXPECT_TRUE(wait_until([&] { return !test::is_process_running(grandchild); }, 10s));
  if (test::is_process_running(grandchild)) test::kill_process(grandchild);
}

}  // namespace
}  // namespace tallow::test::posix
