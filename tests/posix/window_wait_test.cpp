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
#include "platform/message_loop.h"
#include "posix/scoped_variables.h"
#include "support/test_support.h"

namespace tallow::platform {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

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
      {"another thread's wake", [] { std::thread([] { wake_window_wait(); }).join(); }},
      {"the entry written, its directories made for it", [] { ASSERT_TRUE(write_autostart_entry("[Desktop Entry]\n")); }},
      {"the entry removed by hand", [&] { fs::remove(entry); }},
      {"the autostart directory removed", [&] { fs::remove_all(autostart); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dispatch_window_messages();  // what earlier rows left
    c.change();
    // Should nothing end the wait, this does, so that the test fails instead of hanging.
    bool rescued = false;
    GSource* rescue = g_timeout_source_new_seconds(20);
    g_source_set_callback(
        rescue, [](gpointer flag) -> gboolean { *static_cast<bool*>(flag) = true; return G_SOURCE_REMOVE; }, &rescued,
        nullptr);
    g_source_attach(rescue, g_main_context_default());
    wait_for_window_input(kUnboundedInputWait);
    g_source_destroy(rescue);
    g_source_unref(rescue);
    EXPECT_FALSE(rescued);
  }
}

}  // namespace
}  // namespace tallow::platform
