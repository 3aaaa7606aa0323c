#pragma once
// The X display of the run, as the desktop tests ask it directly: whether an XEmbed tray
// holds its selection, and a display of the test's own in front of it that counts the
// connections made to it.

#include <atomic>
#include <string>
#include <thread>

namespace tallow::test {

// Whether an XEmbed system tray holds its selection (_NET_SYSTEM_TRAY_S0) on the display
// DISPLAY names.
bool xembed_tray_present();

// A display of its own (":N", a socket in /tmp/.X11-unix) that relays each connection to
// the run's display and counts them, as an Xwayland started on demand would be started
// by each: the relay stands in for XWayland.
class XRelay {
 public:
  explicit XRelay(const std::string& display);
  ~XRelay();
  XRelay(const XRelay&) = delete;
  XRelay& operator=(const XRelay&) = delete;

  // Empty when it could not listen.
  const std::string& display() const { return display_; }
  int connections() const { return connections_.load(); }

 private:
  void relay();

  std::string target_;   // the socket of the display relayed to
  std::string socket_;   // its own
  std::string display_;
  int listening_ = -1;
  int stop_ = -1;
  std::atomic<int> connections_{0};
  std::thread thread_;
};

}  // namespace tallow::test
