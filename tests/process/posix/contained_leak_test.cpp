// Repeated contained starts leave no descriptor behind in the tray on Linux.

#include <chrono>
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "process/posix/probe_support.h"
#include "support/test_support.h"

namespace tallow::test::posix {
namespace {

std::size_t descriptor_count() { return open_descriptors(::getpid()).size(); }

TEST(PosixContainedLeak, SpawnTerminateWaitCyclesKeepTheDescriptorCount) {
  TempDir dir;
  constexpr int kCycles = 200;
  // One cycle first, so one-time allocations of the runtime are not counted.
  {
    auto child = spawn_probe({"idle"}, dir);
    ASSERT_TRUE(child);
    child->terminate();
    ASSERT_TRUE(child->wait_exit().ok());
  }
  const std::size_t before = descriptor_count();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kCycles; ++i) {
    auto child = spawn_probe({"idle"}, dir);
    ASSERT_TRUE(child);
    auto stop = child->stop_request_sender();
    child->terminate();
    auto status = child->wait_exit();
    ASSERT_TRUE(status.ok()) << status.error().message;
    ASSERT_EQ(status.value(), (platform::ExitStatus{platform::ExitStatus::Kind::code, 1}));
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(descriptor_count(), before);
  std::printf("spawn+terminate+wait: %.2f ms per cycle\n",
              std::chrono::duration<double, std::milli>(elapsed).count() / kCycles);
}

}  // namespace
}  // namespace tallow::test::posix
