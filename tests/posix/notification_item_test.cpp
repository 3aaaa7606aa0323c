// The Linux notification icon's rules that need no bus or display: the popup's row
// format, when a watcher is offered the item again, where an XEmbed icon or the tray's
// own popup may serve, and where hosts find the named icon.

#include <gtest/gtest.h>

#include <tuple>

#include "platform/posix/display_session.h"
#include "platform/posix/icon/icon_lookup.h"
#include "platform/posix/dialog/dialog_protocol.h"
#include "platform/posix/icon/status_notifier_watcher.h"
#include "support/test_support.h"

namespace tallow::platform::posix {
namespace {

using namespace std::chrono_literals;

TEST(PopupRows, ReadBackAsWrittenAndAPickOnlyAsARowOfTheMenu) {
  const Menu menu = {MenuItem::information("Running"), MenuItem::separator(), MenuItem::item("Stop", "stop"),
                     MenuItem::check("Launch at Login", true, "login"), MenuItem::check("Off", false, "x"),
                     MenuItem::item("", "empty"), MenuItem::item("Enroll\u2026 & _more_ \"1\"", "enroll")};
  const std::vector<std::string> arguments = popup_row_arguments(menu);
  EXPECT_EQ(arguments[0], "t00Running");
  EXPECT_EQ(arguments[3], "c11Launch at Login");
  Menu without_commands = menu;
  for (MenuItem& row : without_commands) row.command.reset();
  EXPECT_EQ(popup_rows_from_arguments(arguments), without_commands);

  for (const std::vector<std::string>& malformed : std::vector<std::vector<std::string>>{
           {"t1"}, {"x10label"}, {"t20label"}, {"t1xlabel"}, {"t10ok", ""}}) {
    EXPECT_EQ(popup_rows_from_arguments(malformed), std::nullopt) << malformed.back();
  }
  for (const auto& [text, rows, row] : std::vector<std::tuple<std::string, std::size_t, std::optional<std::size_t>>>{
           {popup_pick_text(0), 3, 0}, {popup_pick_text(2), 3, 2}, {"3", 3, std::nullopt}, {"", 3, std::nullopt},
           {"1x", 3, std::nullopt}, {"-1", 3, std::nullopt}, {" 1", 3, std::nullopt}}) {
    EXPECT_EQ(popup_pick_from_text(text, rows), row) << text;
  }
}

TEST(RegistrationPace, DoublesWhileAWatcherKeepsDroppingTheItemAndStartsAfreshAfterAMinuteHeld) {
  enum Op { registered, lost };
  struct Step {
    Op op;
    std::chrono::seconds at;
    std::chrono::seconds pause{};
  };
  RegistrationPace pace;
  const auto start = RegistrationPace::Clock::now();
  for (const Step& step : std::vector<Step>{{lost, 0s, 1s},      {lost, 1s, 2s},        {registered, 3s},
                                           {lost, 4s, 4s},      {registered, 8s},      {lost, 9s, 8s},
                                           {lost, 17s, 16s},    {lost, 33s, 32s},      {lost, 65s, 60s},
                                           {lost, 125s, 60s},   {registered, 185s},    {lost, 245s, 1s},
                                           {registered, 246s},  {lost, 250s, 2s}}) {
    SCOPED_TRACE(step.at.count());
    if (step.op == registered) {
      pace.registered(start + step.at);
    } else {
      EXPECT_EQ(pace.lost(start + step.at), step.pause);
    }
  }
}

TEST(DisplaySession, XembedOnX11OrOnceATrayIsSeenUnderXwaylandOwnPopupOnX11Only) {
  struct Case {
    const char* name;
    DisplaySession session;
    XembedChance xembed;
    bool popup;
  };
  for (const Case& c : std::vector<Case>{{"x11", {true, false}, XembedChance::now, true},
                                         {"wayland_with_xwayland", {true, true}, XembedChance::once_a_tray_is_seen, false},
                                         {"wayland_alone", {false, true}, XembedChance::never, false},
                                         {"no_display", {false, false}, XembedChance::never, false}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(xembed_chance(c.session), c.xembed);
    EXPECT_EQ(own_popup_possible(c.session), c.popup);
  }
}

TEST(IconLookup, AThemePathOnlyWhereHostsWouldNotLookAndANameOnlyWhereTheyFindIt) {
  test::TempDir root("tallow-icons");
  const auto put = [&](const std::string& file) {
    std::filesystem::create_directories((root / file).parent_path());
    test::write_file(root / file, "<svg/>");
  };
  put("prefix/share/icons/hicolor/symbolic/apps/running-symbolic.svg");
  put("build/icons/running-symbolic.svg");
  std::filesystem::create_directories(root / "build/bin");
  put("usr/share/icons/hicolor/scalable/apps/failed.svg");
  put("home/icons/hicolor/symbolic/apps/dimmed-symbolic.svg");
  std::filesystem::create_directories(root / "copied");
  const std::vector<std::filesystem::path> session = {root / "home/icons", root / "usr/share/icons"};
  struct Case {
    const char* name;
    std::string executable;
    std::string theme_path;
    std::vector<std::string> found;
  };
  for (const Case& c : std::vector<Case>{
           {"installed_under_a_prefix", "prefix/bin/tray", "prefix/share/icons", {"running-symbolic", "failed", "dimmed-symbolic"}},
           {"build_tree", "build/bin/tray", "build/icons", {"running-symbolic", "failed", "dimmed-symbolic"}},
           {"packaged", "usr/bin/tray", "", {"failed", "dimmed-symbolic"}},
           {"copied_alone", "copied/tray", "", {"failed", "dimmed-symbolic"}}}) {
    SCOPED_TRACE(c.name);
    const ItemIconPlaces places = item_icon_places(root / c.executable, session);
    EXPECT_EQ(places.theme_path, c.theme_path.empty() ? std::filesystem::path() : root / c.theme_path);
    std::vector<std::string> found;
    for (const char* name : {"running-symbolic", "failed", "dimmed-symbolic", "missing"}) {
      if (hosts_find_icon(places.bases, name)) found.push_back(name);
    }
    EXPECT_EQ(found, c.found);
  }
}

}  // namespace
}  // namespace tallow::platform::posix
