// Message boxes, dialogs and the shell without a desktop, and the pieces of the Linux
// desktop that need no display: the theme's value, the single-instance lock, the
// signals of the session and the loop's wait.

#include "platform/desktop.h"

#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include "platform/dialog.h"
#include "platform/main_loop.h"
#include "platform/posix/dialog/dialog_helper.h"
#include "platform/posix/portal_theme.h"
#include "platform/posix/icon/xembed_icon.h"
#include "platform/session_control.h"
#include "platform/single_instance.h"
#include "platform/theme.h"
#include "posix/scoped_variables.h"
#include "support/test_support.h"

namespace tallow::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(PosixWithoutDesktop, MessagesGoToStandardErrorAndDialogsAnswerNone) {
  struct Case {
    const char* name;
    std::string caption, text;
    bool is_error;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"information", "Enrolled", "This computer is enrolled.", false, "Enrolled: This computer is enrolled.\n"},
      {"error", "Enrollment failed", "No code", true, "error: Enrollment failed: No code\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    show_message(c.caption, c.text, c.is_error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
  }
  EXPECT_EQ(ask_text("Enroll this computer", "Paste the code.", "hint", "Enroll"), std::nullopt);
  // No bus, no portal: dark, and asking again costs nothing.
  EXPECT_FALSE(is_light_theme());
  EXPECT_FALSE(is_light_theme());
}

TEST(DialogArgument, LongTextIsCutAtACharacterWithAnEllipsis) {
  const std::string e_acute = "\xC3\xA9", ellipsis = "\xE2\x80\xA6";
  struct Case {
    const char* name;
    std::string text;
    std::size_t most;
    std::string expected;
  };
  for (const Case& c : std::vector<Case>{
           {"short_kept", "No code", 16, "No code"},
           {"exactly_the_limit", std::string(16, 'a'), 16, std::string(16, 'a')},
           {"cut_with_ellipsis", std::string(20, 'a'), 16, std::string(13, 'a') + ellipsis},
           {"never_half_a_character", std::string(12, 'a') + e_acute + "bbbb", 16, std::string(12, 'a') + ellipsis},
           {"default_limit_under_linux_argument_limit", std::string(200 * 1024, 'x'), 64 * 1024,
            std::string(64 * 1024 - 3, 'x') + ellipsis},
       }) {
    SCOPED_TRACE(c.name);
    const std::string cut = posix::cut_for_argument(c.text, c.most);
    EXPECT_EQ(cut, c.expected);
    EXPECT_LE(cut.size(), c.most);
  }
}

TEST(PortalColorScheme, TwoIsLightAnythingElseIsNot) {
  struct Case {
    const char* name;
    GVariant* value;
    std::optional<bool> light;
  };
  const std::vector<Case> cases = {
      {"light", g_variant_new_uint32(2), true},
      {"dark", g_variant_new_uint32(1), false},
      {"no_preference", g_variant_new_uint32(0), false},
      {"unknown_number", g_variant_new_uint32(7), false},
      {"wrapped_as_read_returns_it", g_variant_new_variant(g_variant_new_variant(g_variant_new_uint32(2))), true},
      {"wrong_type", g_variant_new_int32(2), std::nullopt},
      {"string", g_variant_new_string("light"), std::nullopt},
      {"nothing", nullptr, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.value) g_variant_ref_sink(c.value);
    EXPECT_EQ(posix::PortalTheme::is_light_value(c.value), c.light);
    if (c.value) g_variant_unref(c.value);
  }
}

// The docking tray's background as seen at the icon's corners.
TEST(DockingPanel, ALightBackgroundIsOneOverHalfWayInLuma) {
  using posix::Rgb;
  const std::vector<std::pair<std::vector<Rgb>, std::optional<bool>>> cases = {
      {{{240, 240, 240}}, true},
      {{{48, 48, 48}}, false},
      {{{0, 0, 255}, {0, 0, 255}}, false},                  // saturated blue is dark
      {{{255, 255, 0}}, true},                              // yellow is light
      {{{255, 255, 255}, {0, 0, 0}, {0, 0, 0}}, false},     // the mean decides
      {{{128, 128, 128}}, true},
      {{{127, 127, 127}}, false},
      {{}, std::nullopt},
  };
  for (const auto& [pixels, light] : cases) EXPECT_EQ(posix::is_light_background(pixels), light);
}

TEST(XembedIcon, ShowsTheImageNearestTheTraysSizeTheLargerOfTwoAsNear) {
  IconPicture picture;
  for (const std::uint32_t side : {16u, 22u, 24u, 32u, 48u}) picture.images.push_back({side, side, {}});
  for (const auto& [tray_size, shown] : std::vector<std::pair<int, std::uint32_t>>{
           {0, 16}, {16, 16}, {18, 16}, {19, 22}, {23, 24}, {28, 32}, {30, 32}, {40, 48}, {96, 48}}) {
    EXPECT_EQ(posix::nearest_image(picture, tray_size)->height, shown) << tray_size;
  }
  EXPECT_EQ(posix::nearest_image({}, 22), nullptr);
}

TEST(PosixSingleInstance, OneClaimPerRuntimeDirectoryUntilItEnds) {
  test::TempDir runtime("tallow-runtime");
  test::TempDir home("tallow-home");
  test::ScopedVariables variables;
  variables.set("XDG_RUNTIME_DIR", runtime.path().string());
  {
    const SingleInstance first = SingleInstance::claim();
    EXPECT_EQ(first.state(), SingleInstance::Claim::claimed);
    EXPECT_TRUE(std::filesystem::exists(runtime / "tallowmere-tray.lock"));
    EXPECT_EQ(SingleInstance::claim().state(), SingleInstance::Claim::already_running);
    // Another session has another runtime directory.
    test::TempDir other("tallow-runtime");
    test::ScopedVariables elsewhere;
    elsewhere.set("XDG_RUNTIME_DIR", other.path().string());
    EXPECT_EQ(SingleInstance::claim().state(), SingleInstance::Claim::claimed);
  }
  EXPECT_EQ(SingleInstance::claim().state(), SingleInstance::Claim::claimed) << "the claim ended with its owner";

  // Without a runtime directory (or with a relative one) the cache directory serves, made when missing.
  variables.set("XDG_RUNTIME_DIR", "relative/run");
  variables.set("XDG_CACHE_HOME", std::nullopt);
  variables.set("HOME", home.path().string());
  const SingleInstance cached = SingleInstance::claim();
  EXPECT_EQ(cached.state(), SingleInstance::Claim::claimed);
  EXPECT_TRUE(std::filesystem::exists(home / ".cache/tallowmere-tray.lock"));
  // A lock file that cannot be made leaves the tray unguarded rather than refused.
  variables.set("XDG_RUNTIME_DIR", (home / "missing/run").string());
  EXPECT_EQ(SingleInstance::claim().state(), SingleInstance::Claim::unguarded);
}

TEST(PosixSessionControl, TermAndIntCloseHupEndsTheSessionAndTheLoop) {
  struct Case {
    const char* name;
    int signal;
    int session_ends;
  };
  for (const Case& c : std::vector<Case>{{"term", SIGTERM, 0}, {"int", SIGINT, 0}, {"hup", SIGHUP, 1}}) {
    SCOPED_TRACE(c.name);
    int session_ends = 0;
    auto control = SessionControl::create([&] { ++session_ends; });
    ASSERT_TRUE(control.ok());
    EXPECT_EQ(dispatch_pending_events(), PumpResult::drained);
    EXPECT_FALSE(control.value().close_requested());
    ASSERT_EQ(::kill(::getpid(), c.signal), 0);
    // The handler only wakes the loop; the work happens in its dispatch. A hang-up ends
    // the loop as a quit message would, taken once.
    bool quit = false;
    EXPECT_TRUE(test::wait_until([&] {
      wait_for_events(50ms);
      quit = dispatch_pending_events() == PumpResult::quit;
      return quit || control.value().close_requested();
    }));
    EXPECT_EQ(quit, c.session_ends == 1);
    EXPECT_EQ(control.value().close_requested(), c.session_ends == 0);
    EXPECT_EQ(session_ends, c.session_ends);
    EXPECT_EQ(dispatch_pending_events(), PumpResult::drained);
  }
}

TEST(PosixMessageLoop, WaitEndsAtTheLimitOrWithTheFirstEvent) {
  dispatch_pending_events();
  auto started = Clock::now();
  wait_for_events(150ms);
  const auto idle = Clock::now() - started;
  EXPECT_GE(idle, 140ms);
  EXPECT_LT(idle, 2s);

  bool fired = false;
  const guint source = g_timeout_add(
      20, [](gpointer flag) -> gboolean { *static_cast<bool*>(flag) = true; return G_SOURCE_REMOVE; }, &fired);
  started = Clock::now();
  wait_for_events(5s);
  dispatch_pending_events();
  EXPECT_TRUE(fired);
  EXPECT_LT(Clock::now() - started, 2s);
  (void)source;

  // Everything pending is dispatched in one call.
  int count = 0;
  for (int i = 0; i < 5; ++i) {
    g_idle_add([](gpointer counter) -> gboolean { ++*static_cast<int*>(counter); return G_SOURCE_REMOVE; }, &count);
  }
  EXPECT_EQ(dispatch_pending_events(), PumpResult::drained);
  EXPECT_EQ(count, 5);
}

}  // namespace
}  // namespace tallow::platform
