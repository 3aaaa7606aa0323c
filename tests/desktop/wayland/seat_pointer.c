// Gives a headless wlroots compositor's seat a pointer, and keeps it until ended.
//
// A headless sway has no input devices, so its seat offers clients no wl_pointer and
// the pointer events of `swaymsg seat - cursor set/press/release` reach nobody. A
// virtual pointer is a device: while this program runs, clients (the bar, its menus)
// bind a pointer and those commands click as a mouse would.
//
//   seat_pointer     prints "ready" once the compositor has made the device
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <wayland-client.h>

#include "virtual-pointer-client.h"

static struct zwlr_virtual_pointer_manager_v1* manager;
static struct wl_seat* seat;

static void on_global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                      uint32_t version) {
  (void)data;
  (void)version;
  if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
  } else if (strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
    seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
  }
}

static void on_global_remove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data;
  (void)registry;
  (void)name;
}

static const struct wl_registry_listener registry_listener = {on_global, on_global_remove};

int main(void) {
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) {
    fprintf(stderr, "seat_pointer: no Wayland display\n");
    return 1;
  }
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (!manager) {
    fprintf(stderr, "seat_pointer: the compositor offers no virtual pointers\n");
    return 1;
  }
  struct zwlr_virtual_pointer_v1* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
  wl_display_roundtrip(display);
  printf("ready\n");
  fflush(stdout);
  // Nothing to read: the connection only has to stay open until a signal ends the
  // program (the device goes with the connection) or the compositor ends and closes it.
  while (wl_display_dispatch(display) != -1) {
  }
  (void)pointer;
  return 0;
}
