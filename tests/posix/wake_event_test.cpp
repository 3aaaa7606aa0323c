// The wake event on an eventfd: a stored permit that stays raised.

#include <fcntl.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/process.h"

namespace tallow::platform {
namespace {

using namespace std::chrono_literals;

std::shared_ptr<WakeEvent> make() {
  auto event = WakeEvent::create();
  EXPECT_TRUE(event.ok());
  return event ? event.value() : nullptr;
}

TEST(PosixNotification, StartsLoweredAndTimesOut) {
  const auto event = make();
  ASSERT_TRUE(event);
  EXPECT_FALSE(event->is_raised());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event->wait_for(30ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
  EXPECT_FALSE(event->wait_for(0ns));
  EXPECT_FALSE(event->wait_for(-5ms));
}

TEST(PosixNotification, RaisedBeforeTheWaitCompletesItAtOnceAndStaysRaised) {
  const auto event = make();
  ASSERT_TRUE(event);
  event->raise();
  event->raise();
  event->raise();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(event->is_raised());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(event->wait_for(std::chrono::hours(1)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  }
  EXPECT_TRUE(event->wait_for(std::chrono::nanoseconds::max()));
}

TEST(PosixNotification, WakesAWaiterInAnotherThread) {
  const auto event = make();
  ASSERT_TRUE(event);
  bool woken = false;
  std::thread waiter([&] { woken = event->wait_for(std::chrono::minutes(1)); });
  event->raise();
  waiter.join();
  EXPECT_TRUE(woken);
}

TEST(PosixNotification, IsNotInheritedAndDoesNotBlock) {
  const auto event = make();
  ASSERT_TRUE(event);
  const int fd = static_cast<int>(event->native());
  EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_NE(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
}

}  // namespace
}  // namespace tallow::platform
