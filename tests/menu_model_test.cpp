// The tray menu as a value: which entries a snapshot gives, in which order, with
// which enabled state and command, and the host part of the hub URL it shows.

#include "tray/menu_model.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tallow {
namespace platform {

// Readable failure output: one entry per line.
void PrintTo(const MenuItem& entry, std::ostream* out) {
  switch (entry.kind) {
    case MenuItem::Kind::separator: *out << "----"; return;
    case MenuItem::Kind::text: *out << "text"; break;
    case MenuItem::Kind::check: *out << (entry.checked ? "check[x]" : "check[ ]"); break;
  }
  *out << " \"" << entry.text << "\" " << (entry.enabled ? "enabled" : "disabled") << " -> "
       << entry.command.value_or("(none)");
}

}  // namespace platform

namespace {

using platform::MenuItem;
using TrayMenu = platform::Menu;

const std::string kEllipsis = "\xE2\x80\xA6";

MenuItem sep() { return MenuItem::separator(); }

// The rows that every menu ends with.
TrayMenu common_tail(bool launch_at_login) {
  return {MenuItem::item("Show Log", "log"), MenuItem::item("Open State Directory", "state"),
          MenuItem::check("Launch at Login", launch_at_login, "login"), sep(),
          MenuItem::item("Quit tallowmered", "quit")};
}

TrayMenu concat(std::initializer_list<TrayMenu> parts) {
  TrayMenu out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TraySnapshot snapshot(AgentStatus status, std::optional<std::string> hub_url,
                      std::optional<bool> connected = std::nullopt, bool launch_at_login = false) {
  TraySnapshot s;
  s.status = std::move(status);
  s.hub_url = std::move(hub_url);
  s.hub_connected = connected;
  s.launch_at_login = launch_at_login;
  return s;
}

// The expected lists below are built with these constructors, so pin down what they make.
TEST(MenuItem, ConstructorsMakeTheKindsOfTheMenu) {
  const MenuItem item = MenuItem::item("Stop", "stop");
  EXPECT_EQ(item.kind, MenuItem::Kind::text);
  EXPECT_EQ(item.text, "Stop");
  EXPECT_TRUE(item.enabled);
  EXPECT_FALSE(item.checked);
  EXPECT_EQ(item.command, "stop");

  const MenuItem information = MenuItem::information("Running");
  EXPECT_EQ(information.kind, MenuItem::Kind::text);
  EXPECT_EQ(information.text, "Running");
  EXPECT_FALSE(information.enabled);
  EXPECT_EQ(information.command, std::nullopt);

  const MenuItem check = MenuItem::check("Launch at Login", true, "login");
  EXPECT_EQ(check.kind, MenuItem::Kind::check);
  EXPECT_TRUE(check.enabled);
  EXPECT_TRUE(check.checked);
  EXPECT_EQ(check.command, "login");
  EXPECT_NE(check, MenuItem::check("Launch at Login", false, "login"));

  EXPECT_EQ(MenuItem::separator().kind, MenuItem::Kind::separator);
  EXPECT_EQ(MenuItem::separator().command, std::nullopt);
}

// ---------------------------------------------------------------------------
// Whole menus for the named situations.

struct MenuCase {
  const char* name;
  TraySnapshot snapshot;
  TrayMenu menu;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const MenuCase& c, std::ostream* out) { *out << c.name; }

class WholeMenu : public ::testing::TestWithParam<MenuCase> {};

TEST_P(WholeMenu, HasExactlyTheseEntries) {
  const auto& c = GetParam();
  EXPECT_EQ(build_tray_menu(c.snapshot), c.menu);
}

INSTANTIATE_TEST_SUITE_P(
    TrayMenu, WholeMenu,
    ::testing::Values(
        MenuCase{"not_enrolled_without_hub", snapshot(AgentStatus::not_enrolled(), std::nullopt),
                 concat({{MenuItem::information("Not enrolled"), sep(),
                          MenuItem::item("Enroll" + kEllipsis, "enroll"), sep()},
                         common_tail(false)})},
        MenuCase{"running_connected_with_port_and_path",
                 snapshot(AgentStatus::running(), "https://host:8443/ui", true),
                 concat({{MenuItem::information("Running"),
                          MenuItem::information("Hub: host:8443, connected"), sep(),
                          MenuItem::item("Stop", "stop"), MenuItem::item("Restart", "restart"), sep(),
                          MenuItem::item("Open Web UI", "web"),
                          MenuItem::item("Enroll Again" + kEllipsis, "enroll"), sep()},
                         common_tail(false)})},
        MenuCase{"running_elsewhere_connecting",
                 snapshot(AgentStatus::running_elsewhere(), "https://hub.example.com/", false),
                 concat({{MenuItem::information("Running (started elsewhere)"),
                          MenuItem::information("Hub: hub.example.com, connecting" + kEllipsis), sep(),
                          MenuItem::item("Open Web UI", "web"),
                          MenuItem::item("Enroll Again" + kEllipsis, "enroll"), sep()},
                         common_tail(false)})},
        MenuCase{"stopping_offers_no_action",
                 snapshot(AgentStatus::stopping(), "https://h/", std::nullopt, true),
                 concat({{MenuItem::information("Stopping" + kEllipsis), MenuItem::information("Hub: h"),
                          sep(), MenuItem::item("Open Web UI", "web"),
                          MenuItem::item("Enroll Again" + kEllipsis, "enroll"), sep()},
                         common_tail(true)})},
        MenuCase{"failed_offers_start_under_reason",
                 snapshot(AgentStatus::failed("exited (exit code: 3), see the log"), std::nullopt),
                 concat({{MenuItem::information("Stopped: exited (exit code: 3), see the log"), sep(),
                          MenuItem::item("Start", "start"), sep(),
                          MenuItem::item("Enroll" + kEllipsis, "enroll"), sep()},
                         common_tail(false)})},
        MenuCase{"empty_hub_url_still_enrolled",
                 snapshot(AgentStatus::stopped(), "", true),
                 concat({{MenuItem::information("Stopped"), MenuItem::information("Hub: , connected"),
                          sep(), MenuItem::item("Start", "start"), sep(),
                          MenuItem::item("Open Web UI", "web"),
                          MenuItem::item("Enroll Again" + kEllipsis, "enroll"), sep()},
                         common_tail(false)})},
        MenuCase{"starting_with_launch_at_login",
                 snapshot(AgentStatus::starting(), std::nullopt, std::nullopt, true),
                 concat({{MenuItem::information("Starting" + kEllipsis), sep(),
                          MenuItem::item("Stop", "stop"), MenuItem::item("Restart", "restart"), sep(),
                          MenuItem::item("Enroll" + kEllipsis, "enroll"), sep()},
                         common_tail(true)})},
        // A connection state without a hub URL has nowhere to show.
        MenuCase{"connected_without_hub_url_shows_no_hub_item",
                 snapshot(AgentStatus::running(), std::nullopt, true),
                 concat({{MenuItem::information("Running"), sep(), MenuItem::item("Stop", "stop"),
                          MenuItem::item("Restart", "restart"), sep(),
                          MenuItem::item("Enroll" + kEllipsis, "enroll"), sep()},
                         common_tail(false)})}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The action block, status by status, with everything else held fixed.

struct ActionCase {
  const char* name;
  AgentStatus status;
  TrayMenu actions;  // rows between the separator after the status and "Open Web UI"
};

void PrintTo(const ActionCase& c, std::ostream* out) { *out << c.name; }

class ActionBlock : public ::testing::TestWithParam<ActionCase> {};

TEST_P(ActionBlock, FollowsTheStatus) {
  const auto& c = GetParam();
  const TrayMenu expected =
      concat({{MenuItem::information(status_label(c.status)), MenuItem::information("Hub: h"), sep()},
              c.actions,
              {MenuItem::item("Open Web UI", "web"), MenuItem::item("Enroll Again" + kEllipsis, "enroll"),
               sep()},
              common_tail(false)});
  EXPECT_EQ(build_tray_menu(snapshot(c.status, "https://h/x")), expected);
}

INSTANTIATE_TEST_SUITE_P(
    TrayMenu, ActionBlock,
    ::testing::Values(
        ActionCase{"stopped", AgentStatus::stopped(), {MenuItem::item("Start", "start"), sep()}},
        ActionCase{"starting", AgentStatus::starting(),
                   {MenuItem::item("Stop", "stop"), MenuItem::item("Restart", "restart"), sep()}},
        ActionCase{"running", AgentStatus::running(),
                   {MenuItem::item("Stop", "stop"), MenuItem::item("Restart", "restart"), sep()}},
        ActionCase{"stopping", AgentStatus::stopping(), {}},
        ActionCase{"running_elsewhere", AgentStatus::running_elsewhere(), {}},
        ActionCase{"not_enrolled", AgentStatus::not_enrolled(), {}},
        ActionCase{"failed", AgentStatus::failed("x"), {MenuItem::item("Start", "start"), sep()}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The hub item: host part and connection suffix.

struct HubItemCase {
  const char* name;
  std::string hub_url;
  std::optional<bool> connected;
  std::string text;
};

void PrintTo(const HubItemCase& c, std::ostream* out) { *out << c.name; }

class HubItem : public ::testing::TestWithParam<HubItemCase> {};

TEST_P(HubItem, ReadsHubHostAndSuffix) {
  const auto& c = GetParam();
  const TrayMenu menu = build_tray_menu(snapshot(AgentStatus::running(), c.hub_url, c.connected));
  ASSERT_GE(menu.size(), 2u);
  EXPECT_EQ(menu[1], MenuItem::information(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    TrayMenu, HubItem,
    ::testing::Values(
        HubItemCase{"connected", "https://hub.example.com/ui", true, "Hub: hub.example.com, connected"},
        HubItemCase{"connecting", "https://hub.example.com/ui", false,
                    "Hub: hub.example.com, connecting" + kEllipsis},
        HubItemCase{"connection_unknown_has_no_suffix", "https://hub.example.com/ui", std::nullopt,
                    "Hub: hub.example.com"},
        HubItemCase{"no_scheme_cut_at_slash", "host/path", std::nullopt, "Hub: host"},
        HubItemCase{"no_slash_after_scheme", "https://host:8443", true, "Hub: host:8443, connected"},
        HubItemCase{"empty_url", "", false, "Hub: , connecting" + kEllipsis},
        HubItemCase{"empty_url_unknown_connection", "", std::nullopt, "Hub: "},
        HubItemCase{"only_first_scheme_separator_counts", "a://b://c/d", std::nullopt, "Hub: b:"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Properties over every combination of the snapshot's fields.

std::vector<TraySnapshot> all_snapshots() {
  const std::vector<AgentStatus> statuses = {
      AgentStatus::stopped(),  AgentStatus::starting(),          AgentStatus::running(),
      AgentStatus::stopping(), AgentStatus::running_elsewhere(), AgentStatus::not_enrolled(),
      AgentStatus::failed("reason")};
  const std::vector<std::optional<std::string>> hubs = {std::nullopt, "", "https://h:1/p", "h"};
  const std::vector<std::optional<bool>> connections = {std::nullopt, false, true};
  std::vector<TraySnapshot> out;
  for (const auto& status : statuses)
    for (const auto& hub : hubs)
      for (const auto& connected : connections)
        for (const bool login : {false, true})
          for (const bool light : {false, true}) {
            TraySnapshot s = snapshot(status, hub, connected, login);
            s.light_theme = light;
            out.push_back(s);
          }
  return out;
}

TEST(TrayMenu, LightThemeDoesNotChangeTheMenu) {
  for (TraySnapshot s : all_snapshots()) {
    s.light_theme = false;
    const TrayMenu dark = build_tray_menu(s);
    s.light_theme = true;
    EXPECT_EQ(build_tray_menu(s), dark) << status_label(s.status);
  }
}

TEST(TrayMenu, LaunchAtLoginIsTheOnlyCheckItemAndFollowsTheSnapshot) {
  for (const TraySnapshot& s : all_snapshots()) {
    const TrayMenu menu = build_tray_menu(s);
    int checks = 0;
    for (const MenuItem& entry : menu) {
      if (entry.kind != MenuItem::Kind::check) continue;
      ++checks;
      EXPECT_EQ(entry, MenuItem::check("Launch at Login", s.launch_at_login, "login"));
    }
    EXPECT_EQ(checks, 1);
  }
}

TEST(TrayMenu, OnlyEnabledEntriesCarryCommandsAndNoSeparatorsTouch) {
  for (const TraySnapshot& s : all_snapshots()) {
    const TrayMenu menu = build_tray_menu(s);
    ASSERT_FALSE(menu.empty());
    EXPECT_EQ(menu.front(), MenuItem::information(status_label(s.status)));
    EXPECT_EQ(menu.back(), MenuItem::item("Quit tallowmered", "quit"));
    for (std::size_t i = 0; i < menu.size(); ++i) {
      const MenuItem& entry = menu[i];
      if (entry.kind == MenuItem::Kind::separator) {
        ASSERT_LT(i + 1, menu.size());
        EXPECT_NE(menu[i + 1].kind, MenuItem::Kind::separator) << "two separators at " << i;
        continue;
      }
      // Disabled items must have no command: nothing may ever be dispatched from them.
      EXPECT_EQ(entry.enabled, entry.command.has_value()) << entry.text;
    }
  }
}

// ---------------------------------------------------------------------------

struct HostCase {
  const char* name;
  std::string url;
  std::string host;
};

void PrintTo(const HostCase& c, std::ostream* out) { *out << c.name; }

class HubHost : public ::testing::TestWithParam<HostCase> {};

TEST_P(HubHost, IsTheTextAfterTheFirstSchemeSeparatorUpToTheNextSlash) {
  const auto& c = GetParam();
  const std::string_view host = hub_host(c.url);
  EXPECT_EQ(host, c.host);
  if (!host.empty()) {
    // A view into the URL itself.
    EXPECT_GE(host.data(), c.url.data());
    EXPECT_LE(host.data() + host.size(), c.url.data() + c.url.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    TrayMenu, HubHost,
    ::testing::Values(
        HostCase{"https_with_path", "https://hub.example.com/ui/#/", "hub.example.com"},
        HostCase{"port_kept", "https://host:8443/ui", "host:8443"},
        HostCase{"no_path", "https://host", "host"},
        HostCase{"trailing_slash", "http://10.0.0.1/", "10.0.0.1"},
        HostCase{"ipv6_literal", "https://[::1]:8443/x", "[::1]:8443"},
        HostCase{"user_query_fragment_before_slash_kept", "https://u:p@h:1?q=1#f/x", "u:p@h:1?q=1#f"},
        HostCase{"query_with_slash_is_cut", "https://h?next=/a", "h?next="},
        HostCase{"no_scheme_with_path", "host/path", "host"},
        HostCase{"no_scheme_no_path", "host", "host"},
        HostCase{"single_slash_scheme_is_no_scheme", "https:/host/x", "https:"},
        HostCase{"empty", "", ""},
        HostCase{"separator_only", "://", ""},
        HostCase{"empty_host", "https:///path", ""},
        HostCase{"leading_slash", "/path", ""},
        HostCase{"two_scheme_separators", "a://b://c/d", "b:"},
        HostCase{"scheme_separator_after_slash", "a/b://c/d", "c"},
        HostCase{"case_and_spaces_kept", "HTTPS:// Hub.Example /", " Hub.Example "},
        HostCase{"non_ascii_host", "https://h\xC3\xA9.example/x", "h\xC3\xA9.example"},
        HostCase{"backslash_is_not_a_slash", "https://h\\x/y", "h\\x"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tallow
