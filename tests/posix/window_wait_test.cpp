// The main thread's wait on Linux has no bound: what the tray shows must end it when it
// changes. Here, another thread's wake (the supervisor's news) and the Launch at Login
// entry changed by hand.

#include <glib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/autostart.h"
#include "platform/main_loop.h"
#include "posix/scoped_variables.h"
#include "support/posix/refused_inotify.h"
#include "support/test_support.h"
#include "tray/platform_tray_host.h"

namespace tallow::platform {
namespace {

using tallow::PlatformTrayHost;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Runs `wait`, and ends it after 20 s should nothing else: false then, so that the test
// fails instead of hanging.
bool ends_before_rescue(const std::function<void()>& wait) {
  bool rescued = false;
  GSource* rescue = g_timeout_source_new_seconds(20);
  g_source_set_callback(
      rescue, [](gpointer flag) -> gboolean { *static_cast<bool*>(flag) = true; return G_SOURCE_REMOVE; }, &rescued,
      nullptr);
  g_source_attach(rescue, g_main_context_default());
  wait();
  g_source_destroy(rescue);
  g_source_unref(rescue);
  return !rescued;
}

TEST(PosixWindowWait, AnUnboundedWaitEndsForAWakeAndForTheAutostartEntryChangedByHand) {
  const test::TempDir home("wait");
  test::ScopedVariables variables;
  variables.set("XDG_CONFIG_HOME", (home / "config").string());
  const fs::path autostart = home / "config" / "autostart";
  const fs::path entry = autostart / "tallowmere-tray.desktop";
  // Made while neither the autostart directory nor the one above it exists.
  AutostartWatch watch = AutostartWatch::start();
  ASSERT_TRUE(watch.keep_watching());

  struct Case {
    const char* name;
    std::function<void()> change;
  };
  const Case cases[] = {
      {"another thread's wake", [] { std::thread([] { wake_main_loop(); }).join(); }},
      {"the entry written, its directories made for it", [] { ASSERT_TRUE(enable_autostart("/usr/bin/tallowmere-tray")); }},
      {"the entry removed by hand", [&] { fs::remove(entry); }},
      {"the autostart directory removed", [&] { fs::remove_all(autostart); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dispatch_pending_events();  // what earlier rows left
    c.change();
    EXPECT_TRUE(ends_before_rescue([] { wait_for_events(kUnboundedInputWait); }));
  }
}

// While the system refuses to watch the autostart directory, the tray's wait is bounded
// so that Launch at Login changed by hand still shows; once a wait has set the watch up,
// only a change ends it.
TEST(PosixWindowWait, TheTraysWaitIsBoundedWhileTheAutostartEntryCannotBeWatched) {
  const test::TempDir home("wait");
  test::ScopedVariables variables;
  variables.set("XDG_CONFIG_HOME", (home / "config").string());
  std::optional<test::InotifyRefusal> refusal(std::in_place);
  PlatformTrayHost host;
  dispatch_pending_events();
  EXPECT_TRUE(ends_before_rescue([&] { host.wait_for_input(std::chrono::milliseconds(100)); }));
  refusal.reset();
  std::thread by_hand([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(enable_autostart("/usr/bin/tallowmere-tray"));
  });
  const auto started = Clock::now();
  EXPECT_TRUE(ends_before_rescue([&] { host.wait_for_input(std::chrono::milliseconds(100)); }));
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(250)) << "a bounded wait, with the watch set up";
  by_hand.join();
}

}  // namespace
}  // namespace tallow::platform
