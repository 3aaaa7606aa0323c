// The timer queue: which callbacks run, in which order, on its one thread.

#include "tasks/timer_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/tasks_access.h"
#include "support/test_support.h"

namespace tallow {
namespace {

using namespace std::chrono_literals;
using Clock = TimerQueue::Clock;

// A queue, served on a thread of its own once serve() is called, until it goes; and the
// names of the callbacks it ran, in order.
struct ServedQueue {
  ~ServedQueue() {
    queue.shutdown();
    if (thread.joinable()) thread.join();
  }
  void serve() { thread = std::thread([this] { queue.serve(); }); }
  std::function<void()> recorder(std::string name) {
    return [this, name] {
      std::lock_guard lock(mutex);
      names.push_back(name);
    };
  }
  std::vector<std::string> ran() {
    std::lock_guard lock(mutex);
    return names;
  }

  TimerQueue queue;
  std::mutex mutex;
  std::vector<std::string> names;
  std::thread thread;
};

TEST(TimerQueue, RunsByDeadlineTiesInScheduleOrderAndNeverWhatWasCancelled) {
  struct Entry {
    std::string name;
    std::chrono::milliseconds at;  // from a moment already past when serving begins
  };
  struct Case {
    const char* name;
    std::vector<Entry> scheduled;
    std::vector<std::string> cancelled;
    std::vector<std::string> ran;
  };
  const std::vector<Case> cases = {
      {"earlier deadlines first, whatever the order of scheduling", {{"c", 30ms}, {"a", 10ms}, {"b", 20ms}}, {},
       {"a", "b", "c"}},
      {"equal deadlines in the order they were scheduled", {{"x", 5ms}, {"y", 5ms}, {"z", 5ms}}, {}, {"x", "y", "z"}},
      {"a cancelled one never runs, the rest keep their order", {{"a", 5ms}, {"b", 5ms}, {"c", 1ms}}, {"b"},
       {"c", "a"}},
      {"every one cancelled, none runs", {{"a", 1ms}, {"b", 2ms}}, {"a", "b"}, {}},
      // Each stop's deadline counts from that stop: a later stop's deadline comes later.
      {"a stop's deadline behind one scheduled earlier for the same moment", {{"stop 1", 20ms}, {"refresh", 0ms}, {"stop 2", 20ms}},
       {"stop 1"}, {"refresh", "stop 2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServedQueue served;
    const auto base = Clock::now() - 1s;
    std::map<std::string, TimerQueue::Id> ids;
    for (const Entry& entry : c.scheduled) ids[entry.name] = served.queue.schedule_at(base + entry.at, served.recorder(entry.name));
    for (const std::string& name : c.cancelled) EXPECT_TRUE(served.queue.cancel(ids[name]));
    // Nothing runs before serving begins, so the order is the queue's alone.
    served.serve();
    ASSERT_TRUE(test::wait_until([&] { return TimerQueueAccess::pending(served.queue) == 0 && served.ran().size() == c.ran.size(); }));
    // A callback that ran, or was cancelled, cannot be cancelled again.
    for (const auto& [name, id] : ids) EXPECT_FALSE(served.queue.cancel(id)) << name;
    EXPECT_EQ(served.ran(), c.ran);
  }
}

TEST(TimerQueue, ANearerDeadlineWakesTheThreadThatWaitsForAFartherOneAndIsKept) {
  ServedQueue served;
  served.serve();
  served.queue.schedule_after(1h, served.recorder("far"));
  std::atomic<bool> early{true};
  // Scheduled from a callback, as the refresh schedules its next step.
  served.queue.schedule_after(0ms, [&] {
    const auto deadline = Clock::now() + 20ms;
    served.queue.schedule_at(deadline, [&, deadline] {
      early = Clock::now() < deadline;
      served.recorder("near")();
    });
  });
  ASSERT_TRUE(test::wait_until([&] { return served.ran() == std::vector<std::string>{"near"}; }));
  EXPECT_FALSE(early.load());
  EXPECT_EQ(TimerQueueAccess::pending(served.queue), 1u);
}

TEST(TimerQueue, AFailingCallbackEndsAloneAndShutdownLetsGoOfWhatTheRestHold) {
  ServedQueue served;
  served.serve();
  served.queue.schedule_after(0ms, [] { throw std::runtime_error("a timer failed"); });
  served.queue.schedule_after(1ms, served.recorder("after the failure"));
  ASSERT_TRUE(test::wait_until([&] { return served.ran().size() == 1; }));
  auto held = std::make_shared<int>(0);
  served.queue.schedule_after(1h, [held] {});
  served.queue.shutdown();
  EXPECT_EQ(served.queue.schedule_after(0ms, [held] {}), TimerQueue::Id{0});
  EXPECT_EQ(held.use_count(), 1);
}

}  // namespace
}  // namespace tallow
