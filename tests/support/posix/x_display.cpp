#include "support/posix/x_display.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

namespace tallow::test {
namespace {

// The socket of ":N" or ":N.S".
std::string socket_of(const std::string& display) {
  const auto colon = display.find(':');
  if (colon == std::string::npos) return {};
  return "/tmp/.X11-unix/X" + display.substr(colon + 1, display.find('.', colon) - colon - 1);
}

int connect_to(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

}  // namespace

bool xembed_tray_present() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connected(connection, &xcb_disconnect);
  if (xcb_connection_has_error(connection)) return false;
  const std::string name = "_NET_SYSTEM_TRAY_S0";
  const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
      xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, name.size(), name.c_str()), nullptr), &std::free);
  if (!atom || atom->atom == XCB_ATOM_NONE) return false;
  const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
      xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr), &std::free);
  return owner && owner->owner != XCB_WINDOW_NONE;
}

XRelay::XRelay(const std::string& display) : target_(socket_of(display)) {
  for (int number = 70; number < 200 && listening_ < 0; ++number) {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    if (std::filesystem::exists(path) || std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock")) continue;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 16) == 0) {
      listening_ = fd;
      socket_ = path;
      display_ = ":" + std::to_string(number);
    } else {
      ::close(fd);
    }
  }
  stop_ = ::eventfd(0, EFD_CLOEXEC);
  if (listening_ >= 0) thread_ = std::thread([this] { relay(); });
}

XRelay::~XRelay() {
  const std::uint64_t one = 1;
  (void)!::write(stop_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
  if (listening_ >= 0) ::close(listening_);
  ::close(stop_);
  if (!socket_.empty()) std::filesystem::remove(socket_);
}

void XRelay::relay() {
  std::map<int, int> peer;  // both ways
  for (;;) {
    std::vector<pollfd> fds = {{stop_, POLLIN, 0}, {listening_, POLLIN, 0}};
    for (const auto& [fd, other] : peer) fds.push_back({fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents != 0) break;
    if (fds[1].revents & POLLIN) {
      const int client = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
      const int server = client >= 0 ? connect_to(target_) : -1;
      if (client >= 0) ++connections_;
      if (server >= 0) {
        peer[client] = server;
        peer[server] = client;
      } else if (client >= 0) {
        ::close(client);
      }
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0 || !peer.contains(fds[i].fd)) continue;
      char buffer[64 * 1024];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      const int other = peer[fds[i].fd];
      bool open = got > 0;
      for (ssize_t sent = 0; open && sent < got;) {
        const ssize_t wrote = ::write(other, buffer + sent, static_cast<std::size_t>(got - sent));
        open = wrote > 0;
        sent += wrote;
      }
      if (!open) {
        peer.erase(fds[i].fd);
        peer.erase(other);
        ::close(fds[i].fd);
        ::close(other);
      }
    }
  }
  for (const auto& [fd, other] : peer) ::close(fd);
}

}  // namespace tallow::test
