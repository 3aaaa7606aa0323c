#pragma once
// What the tray shows, taken anew on every pass of the event loop.

#include <optional>
#include <string>

#include "agent/agent_status.h"

namespace tallow {

struct TraySnapshot {
  std::optional<std::string> hub_url;
  AgentStatus status;
  bool launch_at_login = false;
  // The taskbar's theme: the icon's colour, not the menu's. None while the desktop has
  // not said.
  std::optional<bool> light_theme = false;
  std::optional<bool> hub_connected;

  // Every field equal; compared cheapest first: the two flags, the status, then the texts.
  bool operator==(const TraySnapshot& other) const {
    return launch_at_login == other.launch_at_login && light_theme == other.light_theme &&
           status == other.status && hub_url == other.hub_url && hub_connected == other.hub_connected;
  }
};

}  // namespace tallow
