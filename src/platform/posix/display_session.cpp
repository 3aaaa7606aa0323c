#include "platform/posix/display_session.h"

#include "platform/environment.h"

namespace tallow::platform::posix {
namespace {

bool is_set(std::string_view name) { return !environment_variable(name).value_or("").empty(); }

}  // namespace

DisplaySession current_display_session() {
  return {is_set("DISPLAY"), is_set("WAYLAND_DISPLAY") || environment_variable("XDG_SESSION_TYPE") == "wayland"};
}

XembedChance xembed_chance(const DisplaySession& session) {
  if (!session.x11) return XembedChance::never;
  return session.wayland ? XembedChance::once_a_tray_is_seen : XembedChance::now;
}

bool own_popup_possible(const DisplaySession& session) { return session.x11 && !session.wayland; }

}  // namespace tallow::platform::posix
