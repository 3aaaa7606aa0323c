#pragma once
// The tray menu as a plain value, computed from a snapshot.

#include <string>
#include <string_view>

#include "platform/menu.h"
#include "tray/tray_snapshot.h"

namespace tallow {

// The identifiers the menu's items queue and the controller carries out.
namespace tray_command {
inline constexpr std::string_view kStop = "stop";
inline constexpr std::string_view kRestart = "restart";
inline constexpr std::string_view kStart = "start";
inline constexpr std::string_view kWeb = "web";
inline constexpr std::string_view kEnroll = "enroll";
inline constexpr std::string_view kLog = "log";
inline constexpr std::string_view kState = "state";
inline constexpr std::string_view kLogin = "login";
inline constexpr std::string_view kQuit = "quit";
}  // namespace tray_command

// The whole menu for a snapshot: status, hub, actions and the fixed items.
platform::Menu build_tray_menu(const TraySnapshot& snapshot);

// The part of a hub URL shown in the menu: after the first "://", before the next "/".
std::string_view hub_host(std::string_view hub_url);

}  // namespace tallow
