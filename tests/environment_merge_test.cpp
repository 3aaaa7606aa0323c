// The launch environment of an agent whose env file holds a great many entries: built
// in one pass, in the order the agent must see, also when the file is near its size cap.

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agent/agent_launch.h"
#include "platform/environment.h"
#include "support/test_support.h"

namespace tallow {
namespace {

using namespace std::chrono_literals;

TEST(LaunchEnvironment, HundredsOfThousandsOfEntriesMergeInOrderWithoutStallingTheLaunch) {
  constexpr std::size_t kKeys = 160000;
  std::vector<EnvEntry> env_file;
  env_file.reserve(kKeys + kKeys / 10 + 1);
  for (std::size_t i = 0; i < kKeys; ++i) {
    env_file.push_back({"TALLOW_BULK_" + std::to_string(i), "first"});
  }
  // Every tenth key again, later in the file: the later entry wins, in the earlier place.
  for (std::size_t i = 0; i < kKeys; i += 10) {
    env_file.push_back({"TALLOW_BULK_" + std::to_string(i), "again"});
  }
  env_file.push_back({"NO_COLOR", "0"});

  // Run aside, so that a merge slowed to a crawl fails the test instead of hanging it.
  struct Shared {
    std::atomic<bool> done{false};
    std::vector<platform::EnvironmentVariable> merged;
  };
  auto shared = std::make_shared<Shared>();
  std::thread([shared, env_file = std::move(env_file)] {
    shared->merged = platform::environment_with(launch_environment_overrides(env_file));
    shared->done = true;
  }).detach();
  ASSERT_TRUE(test::wait_until([&] { return shared->done.load(); }, 30s))
      << "merging " << kKeys << " entries took longer than 30 s";

  const auto& merged = shared->merged;
  std::size_t bulk = 0;
  std::size_t no_color = 0;
  for (std::size_t place = 0; place < merged.size(); ++place) {
    const auto& variable = merged[place];
    if (variable.name == "NO_COLOR") {
      ++no_color;
      EXPECT_EQ(variable.value, "1");
      continue;
    }
    if (!variable.name.starts_with("TALLOW_BULK_")) continue;
    // Entries keep the env file's order of first appearance, with the last value.
    ASSERT_EQ(variable.name, "TALLOW_BULK_" + std::to_string(bulk)) << "at " << place;
    EXPECT_EQ(variable.value, bulk % 10 == 0 ? "again" : "first") << variable.name;
    ++bulk;
  }
  EXPECT_EQ(bulk, kKeys);
  EXPECT_EQ(no_color, 1u);
}

}  // namespace
}  // namespace tallow
