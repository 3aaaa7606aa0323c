#pragma once
// What the tray shows, taken anew on every pass of the event loop.

#include <optional>
#include <string>

#include "daemon/agent_status.h"

namespace tallow {

struct TraySnapshot {
  std::optional<std::string> hub_url;
  AgentStatus status;
  bool launch_at_login = false;
  bool light_theme = false;
  std::optional<bool> hub_connected;

  bool operator==(const TraySnapshot&) const = default;
};

}  // namespace tallow
