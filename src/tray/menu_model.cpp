#include "tray/menu_model.h"

namespace tallow {

std::string_view hub_host(std::string_view hub_url) {
  const std::size_t scheme_end = hub_url.find("://");
  std::string_view rest = scheme_end == std::string_view::npos ? hub_url : hub_url.substr(scheme_end + 3);
  return rest.substr(0, rest.find('/'));
}

platform::Menu build_tray_menu(const TraySnapshot& snapshot) {
  using Kind = AgentStatus::Kind;
  using Item = platform::MenuItem;
  const Kind status = snapshot.status.kind();
  const bool has_hub = snapshot.hub_url.has_value();

  platform::Menu menu;
  menu.push_back(Item::information(status_label(snapshot.status)));
  if (has_hub) {
    std::string hub = "Hub: " + std::string(hub_host(*snapshot.hub_url));
    if (snapshot.hub_connected) hub += *snapshot.hub_connected ? ", connected" : ", connecting\u2026";
    menu.push_back(Item::information(std::move(hub)));
  }
  menu.push_back(Item::separator());

  // Actions only where they make sense: a stop or start already under way, or an
  // agent that is not ours, offers none.
  if (status == Kind::starting || status == Kind::running) {
    menu.push_back(Item::item("Stop", tray_command::kStop));
    menu.push_back(Item::item("Restart", tray_command::kRestart));
    menu.push_back(Item::separator());
  } else if (status == Kind::stopped || status == Kind::failed) {
    menu.push_back(Item::item("Start", tray_command::kStart));
    menu.push_back(Item::separator());
  }

  if (has_hub) {
    menu.push_back(Item::item("Open Web UI", tray_command::kWeb));
    menu.push_back(Item::item("Enroll Again\u2026", tray_command::kEnroll));
  } else {
    menu.push_back(Item::item("Enroll\u2026", tray_command::kEnroll));
  }
  menu.push_back(Item::separator());
  menu.push_back(Item::item("Show Log", tray_command::kLog));
  menu.push_back(Item::item("Open State Directory", tray_command::kState));
  menu.push_back(Item::check("Launch at Login", snapshot.launch_at_login, tray_command::kLogin));
  menu.push_back(Item::separator());
  menu.push_back(Item::item("Quit tallowmered", tray_command::kQuit));
  return menu;
}

}  // namespace tallow
