#include "platform/posix/icon/xwayland_trays.h"

#include <glib-unix.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

#include "platform/posix/icon/run_time_library.h"

namespace tallow::platform::posix {

#define TALLOW_XCB_FUNCTIONS(X)                                                        \
  X(xcb_connect) X(xcb_connection_has_error) X(xcb_disconnect) X(xcb_get_setup)        \
  X(xcb_setup_roots_iterator) X(xcb_screen_next) X(xcb_intern_atom) X(xcb_intern_atom_reply) \
  X(xcb_get_selection_owner) X(xcb_get_selection_owner_reply) X(xcb_change_window_attributes) \
  X(xcb_flush) X(xcb_get_file_descriptor) X(xcb_poll_for_event)

// Looked up at run time: linking libxcb would load it into every tray for a question
// asked on Wayland only.
struct XcbFunctions {
  TALLOW_XCB_FUNCTIONS(TALLOW_LIBRARY_MEMBER)
};

namespace {

const XcbFunctions* xcb() {
  static auto* const functions = new XcbFunctions();
  static const bool loaded = load_library("libxcb.so.1", {TALLOW_XCB_FUNCTIONS(TALLOW_LIBRARY_SYMBOL)});
  return loaded ? functions : nullptr;
}

}  // namespace

// A connection to the display, the trays' selection on its screen, and the atom their
// announcement carries.
struct XwaylandTrays::Listening {
  xcb_connection_t* connection = nullptr;
  xcb_atom_t selection = XCB_ATOM_NONE;
  xcb_atom_t manager = XCB_ATOM_NONE;
  bool tray_there = false;
};

namespace {

using Listening = XwaylandTrays::Listening;

xcb_atom_t intern(const XcbFunctions& x, xcb_connection_t* connection, const std::string& name) {
  xcb_intern_atom_reply_t* reply = x.xcb_intern_atom_reply(
      connection, x.xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

// On the connecting thread: connects, asks to hear the root window's messages, then
// whether a tray holds the selection now: in that order, so that one starting in
// between is heard of. Without a connection, none.
Listening connect_and_listen(const XcbFunctions& x) {
  int screen = 0;
  xcb_connection_t* connection = x.xcb_connect(nullptr, &screen);
  xcb_screen_iterator_t roots{};
  if (!x.xcb_connection_has_error(connection)) {
    roots = x.xcb_setup_roots_iterator(x.xcb_get_setup(connection));
    for (int i = 0; i < screen && roots.rem > 0; ++i) x.xcb_screen_next(&roots);
  }
  if (roots.rem <= 0) {
    x.xcb_disconnect(connection);
    return {};
  }
  const std::uint32_t structure = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  x.xcb_change_window_attributes(connection, roots.data->root, XCB_CW_EVENT_MASK, &structure);
  Listening made{connection, intern(x, connection, "_NET_SYSTEM_TRAY_S" + std::to_string(screen)),
                 intern(x, connection, "MANAGER")};
  xcb_get_selection_owner_reply_t* owner =
      x.xcb_get_selection_owner_reply(connection, x.xcb_get_selection_owner(connection, made.selection), nullptr);
  made.tray_there = owner && owner->owner != XCB_WINDOW_NONE;
  std::free(owner);
  x.xcb_flush(connection);
  return made;
}

// A connecting thread's result on its way to the main context.
struct Delivery {
  std::shared_ptr<XwaylandTrays*> way_back;
  Listening made;
  const XcbFunctions* x;
  ~Delivery() {
    // The watch went before it arrived.
    if (made.connection) x->xcb_disconnect(made.connection);
  }
};

}  // namespace

std::unique_ptr<XwaylandTrays> XwaylandTrays::watch(std::function<void()> on_tray, std::chrono::milliseconds retry) {
  const XcbFunctions* x = xcb();
  if (!x) return nullptr;
  std::unique_ptr<XwaylandTrays> trays(new XwaylandTrays(*x, std::move(on_tray), retry));
  trays->connect();
  return trays;
}

XwaylandTrays::XwaylandTrays(const XcbFunctions& xcb, std::function<void()> on_tray, std::chrono::milliseconds retry)
    : xcb_(xcb), on_tray_(std::move(on_tray)), retry_(retry) {}

XwaylandTrays::~XwaylandTrays() {
  if (way_back_) *way_back_ = nullptr;
  readable_.reset();
  retry_timer_.reset();
  if (listening_ && listening_->connection) xcb_.xcb_disconnect(listening_->connection);
}

void XwaylandTrays::connect() {
  way_back_ = std::make_shared<XwaylandTrays*>(this);
  // Detached: a display that never answers (xcb_connect waits for its reply) must not
  // hold up the tray's end. What it found reaches the main context as an idle source.
  std::thread([x = &xcb_, way_back = way_back_] {
    const auto deliver = [](gpointer data) {
      auto* delivery = static_cast<Delivery*>(data);
      if (XwaylandTrays* self = *delivery->way_back) {
        self->way_back_.reset();
        self->on_connected(std::exchange(delivery->made, {}));
      }
      return G_SOURCE_REMOVE;
    };
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, deliver, new Delivery{way_back, connect_and_listen(*x), x},
                    [](gpointer data) { delete static_cast<Delivery*>(data); });
  }).detach();
}

void XwaylandTrays::on_connected(Listening made) {
  if (!made.connection) {
    retry_timer_ = main_context_once(retry_, [this] { connect(); });
    return;
  }
  listening_ = std::make_unique<Listening>(made);
  const GUnixFDSourceFunc on_readable = [](gint, GIOCondition, gpointer self) -> gboolean {
    static_cast<XwaylandTrays*>(self)->read_events();
    return G_SOURCE_CONTINUE;
  };
  readable_ = on_main_context(g_unix_fd_source_new(xcb_.xcb_get_file_descriptor(made.connection), G_IO_IN),
                              G_SOURCE_FUNC(on_readable), this);
  if (made.tray_there) tell_of_tray();
}

void XwaylandTrays::read_events() {
  const Listening& l = *listening_;
  bool announced = false;
  while (xcb_generic_event_t* event = xcb_.xcb_poll_for_event(l.connection)) {
    if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
      const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
      announced = announced || (message->type == l.manager && message->data.data32[1] == l.selection);
    }
    std::free(event);
  }
  if (xcb_.xcb_connection_has_error(l.connection)) {
    // The X server went: looking again would start it again.
    readable_.reset();
    xcb_.xcb_disconnect(l.connection);
    listening_.reset();
  }
  if (announced) tell_of_tray();
}

void XwaylandTrays::tell_of_tray() {
  // Through a copy, and last: the owner may end this watch from inside.
  const std::function<void()> tell = on_tray_;
  tell();
}

}  // namespace tallow::platform::posix
