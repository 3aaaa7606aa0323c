#include "tray/menu_model.h"

namespace tallow {

MenuEntry MenuEntry::item(std::string text, std::string command) {
  return MenuEntry{Kind::text, std::move(text), true, false, std::move(command)};
}

MenuEntry MenuEntry::information(std::string text) {
  return MenuEntry{Kind::text, std::move(text), false, false, std::nullopt};
}

MenuEntry MenuEntry::check(std::string text, bool checked, std::string command) {
  return MenuEntry{Kind::check, std::move(text), true, checked, std::move(command)};
}

MenuEntry MenuEntry::separator() { return MenuEntry{}; }

std::string_view hub_host(std::string_view hub_url) {
  const std::size_t scheme_end = hub_url.find("://");
  std::string_view rest = scheme_end == std::string_view::npos ? hub_url : hub_url.substr(scheme_end + 3);
  return rest.substr(0, rest.find('/'));
}

namespace {

std::string connection_suffix(const std::optional<bool>& hub_connected) {
  if (!hub_connected) return "";
  return *hub_connected ? ", connected" : ", connecting\u2026";
}

}  // namespace

TrayMenu build_tray_menu(const TraySnapshot& snapshot) {
  using Kind = AgentStatus::Kind;
  const Kind status = snapshot.status.kind();
  const bool has_hub = snapshot.hub_url.has_value();

  TrayMenu menu;
  menu.push_back(MenuEntry::information(status_label(snapshot.status)));
  if (has_hub) {
    menu.push_back(MenuEntry::information("Hub: " + std::string(hub_host(*snapshot.hub_url)) +
                                          connection_suffix(snapshot.hub_connected)));
  }
  menu.push_back(MenuEntry::separator());

  // Actions only where they make sense: a stop or start already under way, or an
  // agent that is not ours, offers none.
  if (status == Kind::Starting || status == Kind::Running) {
    menu.push_back(MenuEntry::item("Stop", "stop"));
    menu.push_back(MenuEntry::item("Restart", "restart"));
    menu.push_back(MenuEntry::separator());
  } else if (status == Kind::Stopped || status == Kind::Failed) {
    menu.push_back(MenuEntry::item("Start", "start"));
    menu.push_back(MenuEntry::separator());
  }

  if (has_hub) {
    menu.push_back(MenuEntry::item("Open Web UI", "web"));
    menu.push_back(MenuEntry::item("Enroll Again\u2026", "enroll"));
  } else {
    menu.push_back(MenuEntry::item("Enroll\u2026", "enroll"));
  }
  menu.push_back(MenuEntry::separator());
  menu.push_back(MenuEntry::item("Show Log", "log"));
  menu.push_back(MenuEntry::item("Open State Directory", "state"));
  menu.push_back(MenuEntry::check("Launch at Login", snapshot.launch_at_login, "login"));
  menu.push_back(MenuEntry::separator());
  menu.push_back(MenuEntry::item("Quit tallowmered", "quit"));
  return menu;
}

}  // namespace tallow
