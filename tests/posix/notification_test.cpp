// The eventfd notification: a stored permit that stays raised.

#include <fcntl.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/process.h"

namespace tallow::platform {
namespace {

using namespace std::chrono_literals;

std::shared_ptr<Notification> make() {
  auto notification = Notification::create();
  EXPECT_TRUE(notification.ok());
  return notification ? notification.value() : nullptr;
}

TEST(PosixNotification, StartsLoweredAndTimesOut) {
  const auto notification = make();
  ASSERT_TRUE(notification);
  EXPECT_FALSE(notification->is_raised());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(notification->wait_for(30ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
  EXPECT_FALSE(notification->wait_for(0ns));
  EXPECT_FALSE(notification->wait_for(-5ms));
}

TEST(PosixNotification, RaisedBeforeTheWaitCompletesItAtOnceAndStaysRaised) {
  const auto notification = make();
  ASSERT_TRUE(notification);
  notification->raise();
  notification->raise();
  notification->raise();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(notification->is_raised());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(notification->wait_for(std::chrono::hours(1)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  }
  EXPECT_TRUE(notification->wait_for(std::chrono::nanoseconds::max()));
}

TEST(PosixNotification, WakesAWaiterInAnotherThread) {
  const auto notification = make();
  ASSERT_TRUE(notification);
  bool woken = false;
  std::thread waiter([&] { woken = notification->wait_for(std::chrono::minutes(1)); });
  notification->raise();
  waiter.join();
  EXPECT_TRUE(woken);
}

TEST(PosixNotification, IsNotInheritedAndDoesNotBlock) {
  const auto notification = make();
  ASSERT_TRUE(notification);
  const int fd = static_cast<int>(notification->native());
  EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_NE(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
}

}  // namespace
}  // namespace tallow::platform
