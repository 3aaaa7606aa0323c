#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/process.h"

namespace tallow::platform {
namespace {

using namespace std::chrono_literals;

TEST(Win32Notification, StaysRaisedForEveryLaterWait) {
  auto event = WakeEvent::create();
  ASSERT_TRUE(event.ok()) << event.error().message;
  const WakeEvent& n = *event.value();
  EXPECT_FALSE(n.is_raised());
  // Below a millisecond still waits rather than failing at once for a bad timeout.
  EXPECT_FALSE(n.wait_for(1ns));
  EXPECT_FALSE(n.wait_for(-5s));
  n.raise();
  n.raise();
  EXPECT_TRUE(n.is_raised());
  EXPECT_TRUE(n.wait_for(0ns));
  EXPECT_TRUE(n.wait_for(std::chrono::nanoseconds::max()));
}

TEST(Win32Notification, WakesAWaiterOnAnotherThread) {
  auto event = WakeEvent::create();
  ASSERT_TRUE(event.ok());
  const auto n = event.value();
  std::thread raiser([n] { n->raise(); });
  EXPECT_TRUE(n->wait_for(60s));
  raiser.join();
}

TEST(Win32Notification, WaitForGivesUpAfterTheTimeout) {
  auto event = WakeEvent::create();
  ASSERT_TRUE(event.ok());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.value()->wait_for(30ms));
  // Generous: a wait may end up to a timer tick early.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
}

}  // namespace
}  // namespace tallow::platform
