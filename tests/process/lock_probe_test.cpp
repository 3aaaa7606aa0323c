// The lock probe against a lock file held by another process, as a running agent
// holds it: the probe must see the lock, must never disturb it, and must leave an
// unheld file unlocked so that the next agent can start.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/environment.h"
#include "platform/file.h"
#include "agent_side/agent_side.h"
#include "platform/process.h"
#include "agent/state_files.h"
#include "support/test_support.h"
#include "support/process_support.h"

namespace tallow {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A lock_holder process; killed on destruction if a failed test left it running.
class LockHolder {
 public:
  explicit LockHolder(const test::TempDir& dir)
      : lock_(dir / "tallowmered.lock"), ready_(dir / "holder.ready"), release_(dir / "holder.release") {}

  ~LockHolder() {
    if (pid_ != 0 && test::is_process_running(pid_)) test::kill_process(pid_);
  }

  // Starts the holder and waits until it reports the lock taken.
  void start() {
    auto pid = tallow::agent_side::spawn_detached(
        test::program_path("lock_holder"),
        {platform::path_text(lock_), platform::path_text(ready_), platform::path_text(release_)});
    ASSERT_TRUE(pid.ok()) << pid.error().message;
    pid_ = *pid;
    ASSERT_TRUE(test::wait_until([&] { return fs::exists(ready_) || !test::is_process_running(pid_); }, 30s));
    ASSERT_TRUE(fs::exists(ready_)) << "lock_holder ended without taking the lock";
  }

  void release() { test::write_file(release_, ""); }

  std::uint32_t pid() const { return pid_; }
  const fs::path& lock_path() const { return lock_; }

 private:
  fs::path lock_, ready_, release_;
  std::uint32_t pid_ = 0;
};

bool can_lock(const fs::path& path) { return agent_side::lock_file_exclusively(path).ok(); }

TEST(LockProbe, MissingLockFileIsNotHeldAndNotCreated) {
  test::TempDir dir("lock-missing");
  EXPECT_FALSE(is_agent_lock_held(dir.path()));
  EXPECT_FALSE(fs::exists(dir / "tallowmered.lock"));
  EXPECT_FALSE(is_agent_lock_held(dir / "no such directory"));
  EXPECT_FALSE(fs::exists(dir / "no such directory"));
}

TEST(LockProbe, UnheldFileIsNotHeldAndStaysUnlocked) {
  test::TempDir dir("lock-free");
  const fs::path lock = dir / "tallowmered.lock";
  test::write_file(lock, "4242\n");
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(is_agent_lock_held(dir.path()));
  // The probe took its lock only for an instant and did not touch the content.
  EXPECT_TRUE(can_lock(lock));
  EXPECT_EQ(test::read_file(lock), "4242\n");
}

TEST(LockProbe, EmptyUnheldFileIsNotHeld) {
  test::TempDir dir("lock-empty");
  test::write_file(dir / "tallowmered.lock", "");
  EXPECT_FALSE(is_agent_lock_held(dir.path()));
  EXPECT_TRUE(can_lock(dir / "tallowmered.lock"));
}

// The lock belongs to an open file, not to a process: a holder in this very process,
// through a handle of its own, is still another holder.
TEST(LockProbe, HolderThroughAnotherHandleInThisProcess) {
  test::TempDir dir("lock-here");
  const fs::path lock = dir / "tallowmered.lock";
  {
    auto held = agent_side::lock_file_exclusively(lock);
    ASSERT_TRUE(held.ok()) << held.error().message;
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(is_agent_lock_held(dir.path())) << "probe " << i;
    EXPECT_FALSE(can_lock(lock));
  }
  EXPECT_FALSE(is_agent_lock_held(dir.path()));
  EXPECT_TRUE(can_lock(lock));
}

TEST(LockProbe, HolderInAnotherProcessThenReleased) {
  test::TempDir dir("lock-other");
  LockHolder holder(dir);
  ASSERT_NO_FATAL_FAILURE(holder.start());

  // Repeated probes: a probe that released or stole the holder's lock would show here.
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(is_agent_lock_held(dir.path())) << "probe " << i;
  EXPECT_FALSE(can_lock(holder.lock_path()));
  EXPECT_TRUE(is_agent_lock_held(dir.path()));
  EXPECT_TRUE(test::is_process_running(holder.pid()));

  holder.release();
  ASSERT_TRUE(test::wait_until([&] { return !test::is_process_running(holder.pid()); }, 30s));
  EXPECT_FALSE(is_agent_lock_held(dir.path()));
  EXPECT_FALSE(is_agent_lock_held(dir.path()));
  // The probes left the file unlocked: the next agent can take the lock.
  EXPECT_TRUE(can_lock(holder.lock_path()));
}

TEST(LockProbe, HolderKilledLeavesNoStaleLock) {
  test::TempDir dir("lock-killed");
  LockHolder holder(dir);
  ASSERT_NO_FATAL_FAILURE(holder.start());
  ASSERT_TRUE(is_agent_lock_held(dir.path()));

  test::kill_process(holder.pid());
  ASSERT_TRUE(test::wait_until([&] { return !test::is_process_running(holder.pid()); }, 30s));
  // The system drops the lock of a process that ends in any way; the file itself stays.
  EXPECT_TRUE(test::wait_until([&] { return !is_agent_lock_held(dir.path()); }, 30s));
  EXPECT_TRUE(fs::exists(holder.lock_path()));
  EXPECT_TRUE(can_lock(holder.lock_path()));
}

}  // namespace
}  // namespace tallow
