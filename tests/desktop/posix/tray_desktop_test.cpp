// The real tray on a private session bus: what a notification-area host reads of its
// item and menu, and what the host's clicks do.

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>
// The program carries the decoder for PNGs in memory only.
#define STBI_NO_STDIO
#include <stb/stb_image.h>

#include "desktop/posix/tray_desktop_fixture.h"
#include "posix/scoped_variables.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;
using Kind = AgentStatus::Kind;

// What a host must be given for a status, written out rather than computed by the
// tray's own painter: the themed icon's name, and one pixmap at each size, smallest
// first, whose alpha is the rook drawn for that size (res/tray/rook-N.png), dimmed to
// 35 % while no agent runs.
const std::map<Kind, std::string> kIconNames = {
    {Kind::running, "tallowmere-tray-symbolic"},        {Kind::running_elsewhere, "tallowmere-tray-symbolic"},
    {Kind::failed, "tallowmere-tray-failed"},           {Kind::stopped, "tallowmere-tray-dimmed-symbolic"},
    {Kind::starting, "tallowmere-tray-dimmed-symbolic"}, {Kind::stopping, "tallowmere-tray-dimmed-symbolic"},
    {Kind::not_enrolled, "tallowmere-tray-dimmed-symbolic"}};
constexpr int kPixmapSizes[] = {16, 22, 24, 32, 48};

std::vector<std::vector<std::uint8_t>> expected_alphas(Kind kind) {
  const bool opaque = kind == Kind::running || kind == Kind::running_elsewhere || kind == Kind::failed;
  std::vector<std::vector<std::uint8_t>> alphas;
  for (const int size : kPixmapSizes) {
    const std::string png = std::string(TALLOW_SOURCE_DIR) + "/res/tray/rook-" + std::to_string(size) + ".png";
    int width = 0, height = 0, channels = 0;
    const std::string bytes = read_file(png);
    stbi_uc* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                                            static_cast<int>(bytes.size()), &width, &height, &channels, STBI_rgb_alpha);
    EXPECT_TRUE(pixels && width == size && height == size) << png;
    std::vector<std::uint8_t> alpha;
    for (int i = 0; pixels && i < width * height; ++i) {
      alpha.push_back(opaque ? pixels[4 * i + 3] : static_cast<std::uint8_t>(pixels[4 * i + 3] * 0.35f));
    }
    stbi_image_free(pixels);
    alphas.push_back(alpha);
  }
  return alphas;
}

std::vector<std::vector<std::uint8_t>> alphas_of(const std::optional<std::vector<ItemPixmap>>& pixmaps) {
  std::vector<std::vector<std::uint8_t>> alphas;
  for (const ItemPixmap& pixmap : pixmaps.value_or(std::vector<ItemPixmap>{})) {
    std::vector<std::uint8_t> alpha;
    for (std::size_t i = 0; i < pixmap.argb.size(); i += 4) alpha.push_back(pixmap.argb[i]);
    // A pixmap that is not square, or not as large as its bytes, shows as a wrong size.
    if (pixmap.width != pixmap.height || alpha.size() != static_cast<std::size_t>(pixmap.width * pixmap.height)) {
      alpha.clear();
    }
    alphas.push_back(alpha);
  }
  return alphas;
}

// Alpha and colour of the rook's most covered pixel, as the host would draw it.
struct Ink {
  std::uint8_t alpha, red, green, blue;
  bool operator==(const Ink&) const = default;
};
Ink darkest_ink(const ItemPixmap& pixmap) {
  Ink ink{0, 0, 0, 0};
  for (std::size_t i = 0; i + 3 < pixmap.argb.size(); i += 4) {
    if (pixmap.argb[i] > ink.alpha) ink = {pixmap.argb[i], pixmap.argb[i + 1], pixmap.argb[i + 2], pixmap.argb[i + 3]};
  }
  return ink;
}

bool wait_for_look(TestWatcher& watcher, const std::string& item, const AgentStatus& status) {
  const std::string tooltip = "tallowmered: " + status_label(status);
  const std::string name = kIconNames.at(status.kind());
  const auto alphas = expected_alphas(status.kind());
  const bool seen = wait_until([&] {
    return watcher.tooltip(item) == tooltip && watcher.item_string(item, "IconAccessibleDesc") == tooltip &&
           watcher.item_string(item, "IconName") == name && alphas_of(watcher.pixmaps(item)) == alphas;
  });
  // A host looks the name up where the item says its icons are.
  const auto theme_path = watcher.item_string(item, "IconThemePath").value_or("");
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(theme_path) / (name + ".svg"))) << theme_path;
  return seen;
}

TEST_F(TrayDesktop, HostClicksStopStartRestartLoginAndTheWatcherComesBack) {
  write_config();
  auto tray = start_tray();
  const auto item = registered_item();
  ASSERT_TRUE(item);
  EXPECT_EQ(bus_name_of_process(bus_->address(), tray->pid()), item) << "registered under the tray's connection";
  EXPECT_EQ(watcher_->item_string(*item, "Id"), "tallowmere-tray");
  EXPECT_EQ(watcher_->item_string(*item, "Title"), "tallowmered");
  EXPECT_EQ(watcher_->item_string(*item, "Category"), "ApplicationStatus");
  EXPECT_EQ(watcher_->item_string(*item, "Status"), "Active");
  EXPECT_EQ(watcher_->item_string(*item, "Menu"), "/MenuBar");
  // Run from the build tree, hosts find the themed icons there.
  EXPECT_EQ(watcher_->item_string(*item, "IconThemePath"),
            (program_path("tallowmere-tray").parent_path().parent_path() / "icons").string());

  ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::running())));
  EXPECT_TRUE(wait_for_look(*watcher_, *item, AgentStatus::running()));
  EXPECT_EQ(darkest_ink(watcher_->pixmaps(*item)->front()), (Ink{255, 255, 255, 255}));
  const int first_agent = agent_pid();
  EXPECT_TRUE(process_alive(first_agent));

  // The id of "Launch at Login" in the first menu the host drew.
  const std::vector<MenuRow> first_drawn = watcher_->menu(*item).value_or(std::vector<MenuRow>{});
  std::int32_t first_drawn_login = 0;
  for (const MenuRow& row : first_drawn) {
    if (row.label == "Launch at Login") first_drawn_login = row.id;
  }
  ASSERT_NE(first_drawn_login, 0);

  ASSERT_TRUE(click(*item, "Stop"));
  ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::stopped())));
  // Every row but "Start" and the separator under it was in the running menu: each
  // keeps its id and its order there, status rows and separators too, so a host never
  // has to move a row.
  const std::vector<MenuRow> stopped_menu = watcher_->menu(*item).value_or(std::vector<MenuRow>{});
  const auto ids_also_in = [](const std::vector<MenuRow>& rows, const std::vector<MenuRow>& other) {
    std::vector<std::int32_t> ids;
    for (const MenuRow& row : rows) {
      if (std::ranges::any_of(other, [&](const MenuRow& o) { return o.id == row.id; })) ids.push_back(row.id);
    }
    return ids;
  };
  EXPECT_EQ(ids_also_in(stopped_menu, first_drawn).size() + 2, stopped_menu.size());
  EXPECT_EQ(ids_also_in(stopped_menu, first_drawn), ids_also_in(first_drawn, stopped_menu));
  // The kept status row's new text is announced, not only served in the layout.
  ASSERT_FALSE(stopped_menu.empty());
  EXPECT_EQ(stopped_menu.front().id, first_drawn.front().id);
  EXPECT_TRUE(wait_until([&] { return watcher_->announced_label(stopped_menu.front().id) == "Stopped"; }));
  EXPECT_TRUE(wait_for_look(*watcher_, *item, AgentStatus::stopped()));
  EXPECT_EQ(darkest_ink(watcher_->pixmaps(*item)->front()), (Ink{89, 255, 255, 255}));
  EXPECT_FALSE(process_alive(first_agent));

  ASSERT_TRUE(click(*item, "Start"));
  ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::running())));
  const int second_agent = agent_pid();
  EXPECT_NE(second_agent, first_agent);

  ASSERT_TRUE(click(*item, "Restart"));
  EXPECT_TRUE(wait_until([&] { return agent_pid() != second_agent && process_alive(agent_pid()); }));
  ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::running())));
  EXPECT_FALSE(process_alive(second_agent));

  const auto entry = config_ / "autostart" / "tallowmere-tray.desktop";
  // Clicked in a drawing from three menus ago: an item keeps its id while its command
  // stays in the menu.
  ASSERT_TRUE(watcher_->click(*item, first_drawn_login));
  ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::running(), true, /*launch_at_login=*/true)));
  EXPECT_NE(read_file(entry).find(program_path("tallowmere-tray").string()), std::string::npos) << read_file(entry);
  ASSERT_TRUE(click(*item, "Launch at Login"));
  ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::running())));
  EXPECT_FALSE(std::filesystem::exists(entry));

  // A panel that restarts is a new watcher: the item registers with it again.
  watcher_->release_name();
  ASSERT_TRUE(watcher_->own_name());
  EXPECT_EQ(registered_item(2), item);

  // SIGTERM is a close request: the agent stops and the tray ends with 0.
  const int last_agent = agent_pid();
  ASSERT_TRUE(tray->signal(SIGTERM));
  EXPECT_EQ(tray->wait_for_exit(30s), 0);
  EXPECT_FALSE(process_alive(last_agent));
  EXPECT_EQ(watcher_->menu(*item), std::nullopt) << "the item left the bus with the tray";
}

TEST_F(TrayDesktop, AnItemTheWatcherForgetsRegistersAgainInEveryFormOfItsName) {
  write_config();
  auto tray = start_tray();
  const auto item = registered_item();
  ASSERT_TRUE(item);
  struct Case {
    const char* name;
    std::string dropped;
    std::size_t registrations_after;
  };
  // Another item's drop comes first: only the next row's registration may follow it.
  for (const Case& c : std::vector<Case>{{"another_item", ":1.9999", 1},
                                        {"bus_name", *item, 2},
                                        {"with_path", *item + "/StatusNotifierItem", 3},
                                        {"gnome_form", *item + "@/StatusNotifierItem", 4}}) {
    SCOPED_TRACE(c.name);
    watcher_->drop(c.dropped);
    if (c.registrations_after > watcher_->registrations().size()) {
      EXPECT_EQ(registered_item(c.registrations_after), item);
    }
    EXPECT_EQ(watcher_->registrations().size(), c.registrations_after);
  }
}

TEST_F(TrayDesktop, AFlappingHubChangesItsRowAloneAndAThemeFlipTheIconAlone) {
  write_config();
  auto tray = start_tray();
  const auto item = registered_item();
  ASSERT_TRUE(item);
  ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::running())));
  ASSERT_TRUE(wait_for_look(*watcher_, *item, AgentStatus::running()));
  const int agent = agent_pid();
  const std::int32_t hub_row = watcher_->menu(*item).value().at(1).id;
  auto before = watcher_->signal_counts();
  // Hosts close or rebuild an open menu on a new layout or a new icon: a row that
  // changes is announced alone.
  for (int flip = 1; flip <= 10; ++flip) {
    SCOPED_TRACE(flip);
    const bool connected = flip % 2 == 0;
    write_status(agent, connected);
    const std::string hub = std::string("Hub: hub.tallowmere.test") + (connected ? ", connected" : ", connecting\u2026");
    EXPECT_TRUE(wait_until([&] { return watcher_->announced_label(hub_row) == hub; }));
  }
  auto after = watcher_->signal_counts();
  for (const char* signal : {"NewIcon", "NewToolTip", "LayoutUpdated"}) EXPECT_EQ(after[signal], before[signal]) << signal;

  // The scheme turns light: the icon changes, nothing else.
  portal_->set_light(true);
  EXPECT_TRUE(wait_until([&] { return darkest_ink(watcher_->pixmaps(*item).value().front()) == Ink{255, 0, 0, 0}; }));
  after = watcher_->signal_counts();
  EXPECT_EQ(after["NewIcon"], before["NewIcon"] + 1);
  for (const char* signal : {"NewToolTip", "LayoutUpdated"}) EXPECT_EQ(after[signal], before[signal]) << signal;
}

TEST_F(TrayDesktop, CopiedAloneItNamesNoIconHostsCannotFindPaintsForAnyPanelAndSaysOnceWhyNoMenuOpens) {
  // The programs alone in a directory of their own: no icons beside them, nothing
  // installed where the session looks, no portal to say the colour scheme.
  const auto copy = scratch_ / "copied";
  std::filesystem::create_directories(copy);
  for (const char* program : {"tallowmere-tray", "tallowmered"}) {
    std::filesystem::copy_file(program_path(program), copy / program);
  }
  portal_.reset();
  write_config();
  ChildProcess tray({(copy / "tallowmere-tray").string()},
                    [&] {
                      Environment env = environment();
                      env.insert(env.end(), {{"XDG_DATA_HOME", (scratch_ / "data").string()},
                                             {"XDG_DATA_DIRS", (scratch_ / "system").string()},
                                             {"DISPLAY", ":0.99"},
                                             {"WAYLAND_DISPLAY", ""},
                                             {"XDG_SESSION_TYPE", "x11"}});
                      return env;
                    }(),
                    scratch_ / "tray.log");
  const auto item = registered_item();
  ASSERT_TRUE(item);
  ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::running())));
  EXPECT_EQ(watcher_->item_string(*item, "IconName"), "");
  EXPECT_EQ(watcher_->item_string(*item, "IconThemePath"), "");
  // The symbolic icon's own grey, which reads on light and dark panels alike.
  EXPECT_TRUE(wait_until([&] { return darkest_ink(watcher_->pixmaps(*item).value().front()) == Ink{255, 146, 146, 146}; }));
  // No tallowmere-dialog beside it: the host's clicks open nothing, and it says so once.
  for (int click = 0; click < 2; ++click) ASSERT_TRUE(watcher_->activate(*item));
  const std::string said = "tallowmered: the menu cannot be shown: ";
  EXPECT_TRUE(wait_until([&] { return read_file(scratch_ / "tray.log").find(said) != std::string::npos; }));
  ASSERT_TRUE(tray.signal(SIGTERM));
  EXPECT_EQ(tray.wait_for_exit(30s), 0);
  const std::string log = read_file(scratch_ / "tray.log");
  EXPECT_EQ(log.find(said), log.rfind(said)) << log;
  EXPECT_EQ(log.find("CRITICAL"), std::string::npos) << log;
}

TEST_F(TrayDesktop, QuitStopsTheAgentAndEndsTheTray) {
  write_config();
  auto tray = start_tray();
  const auto item = registered_item();
  ASSERT_TRUE(item);
  ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::running())));
  const int agent = agent_pid();
  ASSERT_TRUE(click(*item, "Quit tallowmered"));
  EXPECT_EQ(tray->wait_for_exit(30s), 0);
  EXPECT_FALSE(process_alive(agent));
}

// Whether `parent` has a child whose program is tallowmere-dialog.
bool has_dialog_child(int parent) { return dialog_child_of(parent) != 0; }

TEST_F(TrayDesktop, HangUpStopsTheAgentWaitsAtMostFourSecondsAndEnds) {
  struct Case {
    const char* name;
    std::string env;
    bool dialog_open;
    bool agent_stops;
  };
  for (const Case& c : std::vector<Case>{{"agent_stops", "", false, true},
                                         {"agent_ignores_the_stop", "TALLOWMERED_IGNORE_STOP=1\n", false, false},
                                         {"dialog_open", "", true, true}}) {
    SCOPED_TRACE(c.name);
    write_config();
    write_env(c.env);
    const std::size_t registrations = watcher_->registrations().size();
    auto tray = start_tray(std::string("tray-") + c.name + ".log");
    const auto item = registered_item(registrations + 1);
    ASSERT_TRUE(item);
    ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::running())));
    const int agent = agent_pid();
    if (c.dialog_open) {
      ASSERT_TRUE(click(*item, "Enroll Again\u2026"));
      ASSERT_TRUE(wait_until([&] { return has_dialog_child(tray->pid()); }));
    }
    const auto hung_up = std::chrono::steady_clock::now();
    ASSERT_TRUE(tray->signal(SIGHUP));
    EXPECT_EQ(tray->wait_for_exit(30s), 0);
    // Four seconds for the agent, then the tray ends without the 20 s a quit would give it.
    EXPECT_LT(std::chrono::steady_clock::now() - hung_up, 12s);
    EXPECT_FALSE(has_dialog_child(tray->pid()));
    if (c.agent_stops) {
      EXPECT_TRUE(wait_until([&] { return !process_alive(agent); }));
    } else {
      // Left to the session's end, as a tray that is gone leaves it.
      ::kill(agent, SIGKILL);
      EXPECT_TRUE(wait_until([&] { return !process_alive(agent); }));
    }
  }
}

TEST_F(TrayDesktop, EveryStatusShowsItsMenuTooltipAndIcon) {
  struct Case {
    const char* name;
    bool enrolled;
    std::string env;
    bool agent_elsewhere;
    Kind kind;
  };
  const std::vector<Case> cases = {
      {"not_enrolled", false, "", false, Kind::not_enrolled},
      {"failed", true, "TALLOWMERED_EXIT_AFTER_MS=100\nTALLOWMERED_EXIT_CODE=3\n", false, Kind::failed},
      {"running_elsewhere", true, "", true, Kind::running_elsewhere},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(state_);
    std::filesystem::create_directories(state_);
    if (c.enrolled) write_config();
    write_env(c.env);
    std::unique_ptr<ChildProcess> elsewhere;
    if (c.agent_elsewhere) {
      elsewhere = std::make_unique<ChildProcess>(
          std::vector<std::string>{program_path("tallowmered").string(), "--state-directory=" + state_.string()},
          environment(), scratch_ / "elsewhere.log");
      ASSERT_TRUE(wait_until([&] { return agent_pid() == elsewhere->pid(); }));
    }
    const std::size_t registrations = watcher_->registrations().size();
    auto tray = start_tray(std::string(c.name) + ".log");
    const auto item = registered_item(registrations + 1);
    ASSERT_TRUE(item);

    AgentStatus status(c.kind == Kind::not_enrolled       ? AgentStatus::not_enrolled()
                       : c.kind == Kind::running_elsewhere ? AgentStatus::running_elsewhere()
                                                          : AgentStatus::stopped());
    if (c.kind == Kind::failed) {
      // The reason is the supervisor's to word; the menu must be the one for it.
      std::optional<std::vector<MenuRow>> menu;
      ASSERT_TRUE(wait_until([&] {
        menu = rows(*item);
        return menu && !menu->empty() && menu->front().label.rfind("Stopped: ", 0) == 0;
      })) << describe(menu);
      status = AgentStatus::failed(menu->front().label.substr(9));
    }
    EXPECT_TRUE(wait_for_menu(*item, snapshot_of(status, c.enrolled)));
    EXPECT_TRUE(wait_for_look(*watcher_, *item, status));
    const Ink ink = darkest_ink(watcher_->pixmaps(*item).value().front());
    EXPECT_EQ(ink, c.kind == Kind::failed             ? (Ink{255, 245, 158, 11})
                   : c.kind == Kind::running_elsewhere ? (Ink{255, 255, 255, 255})
                                                      : (Ink{89, 255, 255, 255}));

    ASSERT_TRUE(tray->signal(SIGTERM));
    EXPECT_EQ(tray->wait_for_exit(30s), 0);
    if (elsewhere) {
      // Not the tray's child: it stays, and ends only when its owner ends it.
      EXPECT_TRUE(process_alive(elsewhere->pid()));
      elsewhere.reset();
    }
  }
}

}  // namespace
}  // namespace tallow::test

namespace tallow::test {
namespace {

TEST_F(TrayDesktop, WebUiLogAndStateDirectoryOpenWithTheDesktopsHandlers) {
  // A handler of our own for web pages, logs and directories records what it is given.
  const auto data = scratch_ / "data";
  const auto opened = scratch_ / "opened";
  std::filesystem::create_directories(data / "applications");
  write_file(data / "applications/recorder.desktop",
             "[Desktop Entry]\nType=Application\nName=Recorder\n"
             "Exec=sh -c 'printf \"%%s\\\\n\" \"$1\" >>\"" + opened.string() + "\"' recorder %u\n");
  std::filesystem::create_directories(config_);
  std::string defaults = "[Default Applications]\n";
  for (const char* type : {"x-scheme-handler/https", "x-scheme-handler/http", "inode/directory", "text/x-log",
                           "text/plain", "application/octet-stream"}) {
    defaults += std::string(type) + "=recorder.desktop\n";
  }
  write_file(config_ / "mimeapps.list", defaults);
  // A state directory whose name needs escaping in a URI, and is not even UTF-8.
  state_ = scratch_ / "state dir \u00E9 \xFF";
  std::filesystem::create_directories(state_);
  write_config();
  auto tray = start_tray("tray.log", {{"XDG_DATA_HOME", data.string()}});
  const auto item = registered_item();
  ASSERT_TRUE(item);
  ASSERT_TRUE(wait_for_menu(*item, snapshot_of(AgentStatus::running())));
  for (const char* label : {"Open Web UI", "Show Log", "Open State Directory"}) ASSERT_TRUE(click(*item, label));
  // The handler takes URIs (%u); GIO hands it a local file as its path, the very bytes.
  // The three handlers run side by side, so their lines come in any order.
  std::vector<std::string> expected{kHubUrl, (state_ / "tallowmered.log").string(), state_.string()};
  std::sort(expected.begin(), expected.end());
  const auto lines_opened = [&] {
    std::vector<std::string> lines;
    std::istringstream text(read_file(opened));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_TRUE(wait_until([&] { return lines_opened() == expected; })) << read_file(opened);
}

}  // namespace
}  // namespace tallow::test

namespace tallow::test {
namespace {

// The tests' bus starts only what a test gives it, never a service installed on the
// machine (a desktop portal, a keyring), and ends what it started with itself.
TEST(PrivateSessionBus, StartsOnlyItsOwnServicesAndEndsThemWithIt) {
  const std::string watcher = "org.kde.StatusNotifierWatcher";
  TempDir installed("tallow-installed");
  write_file(installed / "dbus-1/services/watcher.service",
             "[D-BUS Service]\nName=" + watcher + "\nExec=" + program_path("session_stand_in").string() + "\n");
  ScopedVariables variables;
  variables.set("XDG_DATA_HOME", installed.path().string());
  variables.set("XDG_DATA_DIRS", installed.path().string());
  const auto start = [&](const std::string& address) {
    return run_command("dbus-send --bus='" + address + "' --print-reply --dest=org.freedesktop.DBus / " +
                       "org.freedesktop.DBus.StartServiceByName string:" + watcher + " uint32:0 2>/dev/null");
  };
  {
    PrivateSessionBus bare;
    ASSERT_FALSE(bare.address().empty());
    EXPECT_FALSE(start(bare.address())) << "a service installed on the machine was started";
  }
  int started = 0;
  {
    PrivateSessionBus bus({{watcher, {program_path("session_stand_in").string()}}});
    ASSERT_FALSE(bus.address().empty());
    ASSERT_TRUE(start(bus.address()));
    const auto name = run_command("dbus-send --bus='" + bus.address() + "' --print-reply --dest=org.freedesktop.DBus / " +
                                  "org.freedesktop.DBus.GetConnectionUnixProcessID string:" + watcher);
    ASSERT_TRUE(name);
    started = std::stoi(name->substr(name->rfind(' ') + 1));
    EXPECT_TRUE(process_alive(started));
  }
  EXPECT_FALSE(process_alive(started)) << "the service outlived its bus";
}

}  // namespace
}  // namespace tallow::test
