// Gives a headless sway's seat a pointer for as long as it runs, for
// tests/desktop/host_matrix.sh. With no input device the seat offers clients no
// wl_pointer, and the clicks of `swaymsg seat - cursor press` reach nobody; wlroots'
// virtual pointer is a device. Prints "ready" once the compositor has made it.

#include <wayland-client.h>

#include <cstdio>
#include <cstring>

namespace {

// The one request used of the virtual-pointer protocol, declared here rather than
// generated: create_virtual_pointer(seat or null, new id).
const wl_interface kPointer = {"zwlr_virtual_pointer_v1", 1, 0, nullptr, 0, nullptr};
const wl_interface* kCreateTypes[] = {&wl_seat_interface, &kPointer};
const wl_message kManagerRequests[] = {{"create_virtual_pointer", "?on", kCreateTypes}};
const wl_interface kManager = {"zwlr_virtual_pointer_manager_v1", 1, 1, kManagerRequests, 0, nullptr};

wl_proxy* manager = nullptr;
wl_proxy* seat = nullptr;

void on_global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  if (std::strcmp(interface, kManager.name) == 0) {
    manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kManager, 1));
  } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
    seat = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  }
}

const wl_registry_listener kListener = {on_global, [](void*, wl_registry*, uint32_t) {}};

}  // namespace

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return 1;
  wl_registry_add_listener(wl_display_get_registry(display), &kListener, nullptr);
  wl_display_roundtrip(display);
  if (!manager || !seat) return 2;
  wl_proxy_marshal_constructor(manager, 0, &kPointer, seat, nullptr);
  wl_display_roundtrip(display);
  std::puts("ready");
  std::fflush(stdout);
  // The device lives as long as the connection: until a signal ends this program.
  while (wl_display_dispatch(display) != -1) {
  }
  return 0;
}
