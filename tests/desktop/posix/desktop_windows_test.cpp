// What a person sees of the tray on a Linux desktop, driven with real input under the X
// display of the run: the message box that refuses a second tray, the input dialog, the
// icon and its menu in xfce4-panel, and the XEmbed fallback docked in trayer. Each leaves
// screenshots in <build>/screenshots.

#include <signal.h>

#include <gtest/gtest.h>

#include <fstream>
#include <glob.h>

#include "desktop/posix/tray_desktop_fixture.h"
#include "support/posix/x_display.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;

class DesktopWindows : public TrayDesktop {
 protected:
  void SetUp() override {
    if (x_display().empty()) GTEST_SKIP() << "no X display (scripts/test provides one)";
    for (const char* tool : {"xdotool", "import", "xwininfo", "dbus-send"}) {
      ASSERT_TRUE(has_program(tool)) << tool << " is missing";
    }
    TrayDesktop::SetUp();
  }

  // Focuses the window and types into it as a keyboard would.
  static void type_into(const std::string& window, const std::string& text) {
    ASSERT_TRUE(xdotool("windowfocus --sync " + window));
    if (text.empty()) return;
    // A character the keyboard map lacks is typed through a key bound to it for the
    // moment; the pause lets GTK read that key before xdotool binds it back, also on a
    // loaded machine.
    ASSERT_TRUE(xdotool("type --delay 60 '" + text + "'"));
  }
  static void press(const std::string& window, const std::string& key) {
    ASSERT_TRUE(xdotool("windowfocus --sync " + window));
    ASSERT_TRUE(xdotool("key " + key));
  }
  static bool window_gone(const std::string& title) { return !find_window(title, 0ms); }
};

TEST_F(DesktopWindows, ASecondTrayShowsItsMessageAndEndsWithZero) {
  write_config();
  auto first = start_tray("first.log");
  ASSERT_TRUE(registered_item());
  auto second = start_tray("second.log");
  const auto box = find_window("tallowmered");
  ASSERT_TRUE(box) << read_file(scratch_ / "second.log");
  take_screenshot("linux-second-instance");
  EXPECT_FALSE(second->wait_for_exit(300ms)) << "the box waits for the user";
  press(*box, "Return");
  EXPECT_EQ(second->wait_for_exit(20s), 0);
  EXPECT_EQ(watcher_->registrations().size(), 1u) << "no second item";
  EXPECT_TRUE(process_alive(first->pid()));
}

TEST_F(DesktopWindows, TheDialogGivesTypedTextAsItIsAndNoneOnEscape) {
  struct Case {
    const char* name;
    std::string typed;
    std::string key;
    std::string answer;
  };
  const std::vector<Case> cases = {
      {"blanks_kept", "  code-42 --hub=https://h_1.test ", "Return", "text:  code-42 --hub=https://h_1.test "},
      {"empty_is_text", "", "Return", "text:"},
      {"escape_cancels", "abc", "Escape", "none"},
      {"non_ascii", "Zo\u00EB \u00E9t\u00E9", "Return", "text:Zo\u00EB \u00E9t\u00E9"},
  };
  // GLib's debug output goes to standard output; none of it may reach the answer.
  Environment chatty = environment();
  chatty.emplace_back("G_MESSAGES_DEBUG", "all");
  ChildProcess probe({program_path("ask_text_probe").string(), scratch_.path().string(), std::to_string(cases.size())},
                     chatty, scratch_ / "probe.log");
  for (std::size_t n = 1; n <= cases.size(); ++n) {
    const Case& c = cases[n - 1];
    SCOPED_TRACE(c.name);
    // The dialog before has gone with its answer; this one is the next. A dialog is a
    // program started afresh, which a loaded machine may take a while to show.
    const auto dialog = find_window("Enroll this computer", 60s);
    ASSERT_TRUE(dialog) << "probe: " << read_file(scratch_ / "probe.log") << "\nwindows:\n"
                        << run_command("xwininfo -root -tree 2>&1").value_or("") << "\nprobe alive: "
                        << process_alive(probe.pid());
    if (n == 1) take_screenshot("linux-dialog-hint", "500x200+262+284");
    type_into(*dialog, c.typed);
    if (n == 1) take_screenshot("linux-dialog", "500x200+262+284");
    press(*dialog, c.key);
    const auto answer = scratch_ / ("answer-" + std::to_string(n));
    ASSERT_TRUE(wait_until([&] { return std::filesystem::exists(answer); }));
    EXPECT_EQ(read_file(answer), c.answer) << read_file(scratch_ / "probe.log");
  }
  EXPECT_EQ(probe.wait_for_exit(20s), 0);
}

// Hosts that show no menu themselves (LXQt, MATE) pass the click on; the tray's own
// popup then opens at the pointer, unless another program holds the pointer or the
// keyboard, when it shows nothing, ends at once and leaves the next click working.
TEST_F(DesktopWindows, TheTraysOwnPopupGivesWayToAnotherProgramsGrabAndANewClickReplacesIt) {
  write_config();
  auto tray = start_tray();
  const auto item = registered_item();
  ASSERT_TRUE(item);
  ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::running())));
  const auto popup_shown = [] { return xdotool("search --onlyvisible --class tallowmere-dialog"); };
  {
    ChildProcess grab({program_path("grab_holder").string()}, environment(), scratch_ / "grab.log");
    ASSERT_TRUE(wait_until([&] { return read_file(scratch_ / "grab.log") == "grabbed\n"; })) << read_file(scratch_ / "grab.log");
    ASSERT_TRUE(watcher_->activate(*item));
    // The popup tries for a moment and gives up, saying why; it does not linger.
    ASSERT_TRUE(wait_until([&] { return read_file(scratch_ / "tray.log").find("cannot be shown") != std::string::npos; }))
        << read_file(scratch_ / "tray.log");
    EXPECT_TRUE(wait_until([&] { return dialog_child_of(tray->pid()) == 0; }, 1s));
    EXPECT_FALSE(popup_shown());
  }
  ASSERT_TRUE(watcher_->activate(*item));
  ASSERT_TRUE(wait_for_x(popup_shown)) << "no popup after the grab ended";
  const int first = dialog_child_of(tray->pid());
  take_screenshot("linux-own-popup");
  // Clicked again while it is open: that popup goes, a fresh one comes.
  ASSERT_TRUE(watcher_->activate(*item));
  EXPECT_TRUE(wait_until([&] {
    const int now = dialog_child_of(tray->pid());
    return now != 0 && now != first;
  }));
  EXPECT_TRUE(wait_for_x(popup_shown));
  ASSERT_TRUE(xdotool("key Escape"));
  EXPECT_TRUE(wait_until([&] { return dialog_child_of(tray->pid()) == 0; }));
}

// xfconfd lives beside the other xfconf programs, under the multiarch library directory.
std::optional<std::string> xfconfd_path() {
  glob_t found{};
  std::optional<std::string> path;
  if (::glob("/usr/lib/*/xfce4/xfconf/xfconfd", 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
    path = found.gl_pathv[0];
  }
  globfree(&found);
  return path;
}

TEST_F(DesktopWindows, InXfcePanelTheIconOpensItsMenuAndTheDialog) {
  ASSERT_TRUE(has_program("xfce4-panel"));
  const auto xfconfd = xfconfd_path();
  ASSERT_TRUE(xfconfd) << "xfconfd is missing";
  // The panel is the watcher here; ours stays on the bus as a client that clicks.
  watcher_->release_name();
  const auto channels = config_ / "xfce4/xfconf/xfce-perchannel-xml";
  std::filesystem::create_directories(channels);
  std::filesystem::copy_file(std::filesystem::path(TALLOW_SOURCE_DIR) / "tests/desktop/xfce4-panel.xml",
                             channels / "xfce4-panel.xml");
  ChildProcess settings({*xfconfd}, environment(), scratch_ / "xfconfd.log");
  ChildProcess panel({"xfce4-panel"}, environment(), scratch_ / "panel.log");
  // Without a window manager the panel waits a few seconds for one, then goes on.
  ASSERT_TRUE(wait_for_x([&] { return bus_name_has_owner(bus_->address(), "org.kde.StatusNotifierWatcher"); }, 60s))
      << read_file(scratch_ / "panel.log");

  write_config();
  auto tray = start_tray();
  std::optional<std::string> found;
  ASSERT_TRUE(wait_until([&] { return (found = bus_name_of_process(bus_->address(), tray->pid())).has_value(); }));
  const std::string item = *found;
  ASSERT_TRUE(wait_until([&] { return rows(item) == expected_rows(snapshot_of(AgentStatus::running())); }));
  ASSERT_TRUE(wait_until([&] { return watcher_->item_string(item, "Status") == "Active"; }));
  const std::size_t windows = top_level_windows();
  // The notification area is the panel's only plugin: its first icon is at the left end.
  take_screenshot("linux-panel-icon", "240x40+0+0");
  ASSERT_TRUE(xdotool("mousemove 18 18 click 1"));
  EXPECT_TRUE(wait_for_x([&] { return top_level_windows() > windows; }, 10s)) << "no menu opened";
  take_screenshot("linux-panel-menu", "360x300+0+0");
  ASSERT_TRUE(xdotool("key Escape"));

  // "Enroll…" as the host reports the click; blanks alone are no code.
  ASSERT_TRUE(click(item, "Enroll Again\u2026"));
  const auto dialog = find_window("Enroll this computer");
  ASSERT_TRUE(dialog);
  type_into(*dialog, "   ");
  take_screenshot("linux-panel-dialog");
  press(*dialog, "Return");
  const auto box = find_window("Enrollment failed");
  ASSERT_TRUE(box) << "the no-code message";
  take_screenshot("linux-message-box");
  press(*box, "Return");
  EXPECT_TRUE(wait_for_x([&] { return window_gone("Enrollment failed"); }));

  // Asked to close while a dialog is open: the dialog goes, and so does the tray.
  ASSERT_TRUE(click(item, "Enroll Again\u2026"));
  ASSERT_TRUE(find_window("Enroll this computer"));
  ASSERT_TRUE(tray->signal(SIGTERM));
  EXPECT_EQ(tray->wait_for_exit(30s), 0);
  EXPECT_TRUE(wait_for_x([&] { return window_gone("Enroll this computer"); }));
}

TEST_F(DesktopWindows, WithoutAWatcherTheIconDocksInAnXembedTray) {
  ASSERT_TRUE(has_program("trayer"));
  watcher_.reset();  // no StatusNotifierWatcher on the bus at all
  // Only an XEmbed tray that holds its selection on the display counts as one.
  EXPECT_TRUE(wait_for_x([] { return !xembed_tray_present(); }));
  // A light tray, while the desktop portal says dark: the panel the icon sits in wins.
  ChildProcess trayer({"trayer", "--edge", "top", "--align", "left", "--widthtype", "request", "--height", "36",
                       "--SetDockType", "false", "--transparent", "true", "--alpha", "0", "--tint", "0xe0e0e0"},
                      environment(), scratch_ / "trayer.log");
  ASSERT_TRUE(wait_for_x([&] { return xdotool("search --onlyvisible --class trayer"); }));
  EXPECT_TRUE(wait_for_x(&xembed_tray_present));
  write_config();
  auto tray = start_tray();
  // GtkStatusIcon docks a plug window named after the program into the tray.
  ASSERT_TRUE(wait_for_x([&] {
    const auto tree = run_command("xwininfo -root -tree 2>/dev/null");
    return tree && tree->find("\"tallowmere-tray\"") != std::string::npos;
  })) << read_file(scratch_ / "tray.log");
  // The Running rook is opaque black there: the darkest pixel of the docked icon says so.
  EXPECT_TRUE(wait_for_x([&] {
    const auto darkest = run_command("import -window root -crop 36x36+0+0 -colorspace gray -format '%[fx:minima]' info:");
    return darkest && std::stod(*darkest) < 0.1;
  }));
  take_screenshot("linux-xembed-icon", "240x40+0+0");
  const std::size_t windows = top_level_windows();
  ASSERT_TRUE(xdotool("mousemove 10 18 click 3"));
  EXPECT_TRUE(wait_for_x([&] { return top_level_windows() > windows; }, 10s)) << "no menu opened";
  take_screenshot("linux-xembed-menu", "360x300+0+0");
  ASSERT_TRUE(xdotool("key Escape"));
  ASSERT_TRUE(tray->signal(SIGTERM));
  EXPECT_EQ(tray->wait_for_exit(30s), 0);
}

// On a Wayland session the X display is XWayland's, which some desktops start for any
// program that connects. The tray connects once, not on its main thread, keeps the
// connection, and docks in an XEmbed tray that starts after it told the user there is
// no notification area.
TEST_F(DesktopWindows, UnderXwaylandTheTrayConnectsOnceAndDocksInATrayThatStartsLater) {
  ASSERT_TRUE(has_program("trayer"));
  watcher_.reset();
  EXPECT_TRUE(wait_for_x([] { return !xembed_tray_present(); }));
  const XRelay xwayland(x_display());
  ASSERT_FALSE(xwayland.display().empty());
  write_config();
  auto tray = start_tray("tray.log", {{"DISPLAY", xwayland.display()}, {"WAYLAND_DISPLAY", "wayland-tallow-none"}});
  const std::string told = "There is no notification area";
  ASSERT_TRUE(wait_until([&] { return read_file(scratch_ / "tray.log").find(told) != std::string::npos; }, 60s));
  EXPECT_EQ(xwayland.connections(), 1);
  ChildProcess trayer({"trayer", "--edge", "top", "--align", "left", "--widthtype", "request", "--height", "36",
                       "--SetDockType", "false", "--transparent", "true", "--alpha", "0", "--tint", "0x303030"},
                      environment(), scratch_ / "trayer.log");
  ASSERT_TRUE(wait_for_x([&] {
    const auto tree = run_command("xwininfo -root -tree 2>/dev/null");
    return tree && tree->find("\"tallowmere-tray\"") != std::string::npos;
  })) << read_file(scratch_ / "tray.log");
  // The one connection it kept, and GTK's own for the icon.
  EXPECT_EQ(xwayland.connections(), 2);
  take_screenshot("linux-xwayland-late-tray", "240x40+0+0");
  ASSERT_TRUE(tray->signal(SIGTERM));
  EXPECT_EQ(tray->wait_for_exit(30s), 0);
}

}  // namespace
}  // namespace tallow::test
