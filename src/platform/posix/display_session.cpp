#include "platform/posix/display_session.h"

#include <gmodule.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include "platform/environment.h"

namespace tallow::platform::posix {
namespace {

bool is_set(std::string_view name) { return !environment_variable(name).value_or("").empty(); }

// The few libxcb functions the question needs, looked up at run time: linking libxcb
// would load it into every tray for a question asked once, on Wayland only.
struct Xcb {
  decltype(&::xcb_connect) connect = nullptr;
  decltype(&::xcb_connection_has_error) has_error = nullptr;
  decltype(&::xcb_disconnect) disconnect = nullptr;
  decltype(&::xcb_intern_atom) intern_atom = nullptr;
  decltype(&::xcb_intern_atom_reply) intern_atom_reply = nullptr;
  decltype(&::xcb_get_selection_owner) get_selection_owner = nullptr;
  decltype(&::xcb_get_selection_owner_reply) get_selection_owner_reply = nullptr;
};

const Xcb* xcb() {
  static const Xcb* const functions = []() -> const Xcb* {
    GModule* library = g_module_open("libxcb.so.1", G_MODULE_BIND_LOCAL);
    if (!library) return nullptr;
    g_module_make_resident(library);
    auto* found = new Xcb();
    const auto look_up = [library](const char* name, auto& function) {
      return g_module_symbol(library, name, reinterpret_cast<gpointer*>(&function)) && function != nullptr;
    };
    if (look_up("xcb_connect", found->connect) && look_up("xcb_connection_has_error", found->has_error) &&
        look_up("xcb_disconnect", found->disconnect) && look_up("xcb_intern_atom", found->intern_atom) &&
        look_up("xcb_intern_atom_reply", found->intern_atom_reply) &&
        look_up("xcb_get_selection_owner", found->get_selection_owner) &&
        look_up("xcb_get_selection_owner_reply", found->get_selection_owner_reply)) {
      return found;
    }
    delete found;
    return nullptr;
  }();
  return functions;
}

}  // namespace

DisplaySession current_display_session() {
  return {is_set("DISPLAY"), is_set("WAYLAND_DISPLAY") || environment_variable("XDG_SESSION_TYPE") == "wayland"};
}

bool xembed_possible(const DisplaySession& session, const std::function<bool()>& xembed_tray_there) {
  if (!session.x11) return false;
  return !session.wayland || xembed_tray_there();
}

bool own_popup_possible(const DisplaySession& session) { return session.x11 && !session.wayland; }

bool xembed_tray_present() {
  const Xcb* x = xcb();
  if (!x) return false;
  int screen = 0;
  xcb_connection_t* connection = x->connect(nullptr, &screen);
  const std::unique_ptr<xcb_connection_t, decltype(x->disconnect)> connected(connection, x->disconnect);
  if (!connection || x->has_error(connection)) return false;
  const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
  // Only an existing atom: a tray that ever ran on this display made it.
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
      x->intern_atom_reply(connection, x->intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.c_str()),
                           nullptr),
      &std::free);
  if (!atom || atom->atom == XCB_ATOM_NONE) return false;
  std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
      x->get_selection_owner_reply(connection, x->get_selection_owner(connection, atom->atom), nullptr), &std::free);
  return owner && owner->owner != XCB_WINDOW_NONE;
}

}  // namespace tallow::platform::posix
