#pragma once
// XEmbed system trays on the X display of a Wayland session (XWayland), looked for
// without holding up the main thread and without starting Xwayland again and again:
// desktops that start Xwayland on demand (GNOME) start it for any program that
// connects. One connection is made, on a thread of its own, and kept: a tray that holds
// its selection then is reported at once, and one that starts later by the MANAGER
// message each tray sends the root window as it starts. While no connection can be had
// (nothing answers on the display, which starts nothing either), it is tried again at
// the pace given; a connection once made is never made again, even after the X server
// has gone.

#include <chrono>
#include <functional>
#include <memory>

#include "platform/posix/glib_ptr.h"

namespace tallow::platform::posix {

struct XcbFunctions;

class XwaylandTrays {
 public:
  // Starts looking; `on_tray` runs on the main context for each tray found and may end
  // the watch. Null when libxcb cannot be loaded.
  static std::unique_ptr<XwaylandTrays> watch(std::function<void()> on_tray, std::chrono::milliseconds retry);
  ~XwaylandTrays();
  XwaylandTrays(const XwaylandTrays&) = delete;
  XwaylandTrays& operator=(const XwaylandTrays&) = delete;

  struct Listening;

 private:
  XwaylandTrays(const XcbFunctions& xcb, std::function<void()> on_tray, std::chrono::milliseconds retry);
  void connect();
  void on_connected(Listening made);
  void read_events();
  void tell_of_tray();

  const XcbFunctions& xcb_;
  const std::function<void()> on_tray_;
  const std::chrono::milliseconds retry_;
  // How a connecting thread finds this watch again on the main context; emptied as it goes.
  std::shared_ptr<XwaylandTrays*> way_back_;
  std::unique_ptr<Listening> listening_;
  GSourcePtr readable_;
  GSourcePtr retry_timer_;
};

}  // namespace tallow::platform::posix
