// A desktop portal that serves only the colour scheme, for bench/desktop_benchmark.sh:
// it owns org.freedesktop.portal.Desktop on the session bus, answers Settings.Read of
// org.freedesktop.appearance color-scheme (dark at first), and on each SIGUSR1 flips
// between dark and light and announces it with SettingChanged, as a desktop does when
// its user switches. Serves DBUS_SESSION_BUS_ADDRESS until SIGTERM.

#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr char kInterfaceXml[] =
    "<node><interface name='org.freedesktop.portal.Settings'>"
    "<method name='Read'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='v' direction='out'/></method>"
    "<signal name='SettingChanged'><arg type='s'/><arg type='s'/><arg type='v'/></signal>"
    "</interface></node>";
constexpr char kPath[] = "/org/freedesktop/portal/desktop";
constexpr char kNamespace[] = "org.freedesktop.appearance";
constexpr char kKey[] = "color-scheme";

struct Portal {
  GDBusConnection* bus = nullptr;
  guint32 scheme = 1;  // 1 prefers dark, 2 prefers light
};

void on_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
             GDBusMethodInvocation* invocation, gpointer data) {
  const auto* portal = static_cast<Portal*>(data);
  const gchar* name_space = nullptr;
  const gchar* key = nullptr;
  g_variant_get(parameters, "(&s&s)", &name_space, &key);
  if (std::strcmp(name_space, kNamespace) != 0 || std::strcmp(key, kKey) != 0) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound",
                                               "no such setting");
    return;
  }
  // Read wraps the value once more than the setting, as the real portal does.
  g_dbus_method_invocation_return_value(
      invocation, g_variant_new("(v)", g_variant_new_variant(g_variant_new_uint32(portal->scheme))));
}

gboolean on_flip(gpointer data) {
  auto* portal = static_cast<Portal*>(data);
  portal->scheme = portal->scheme == 1 ? 2 : 1;
  g_dbus_connection_emit_signal(portal->bus, nullptr, kPath, "org.freedesktop.portal.Settings", "SettingChanged",
                                g_variant_new("(ssv)", kNamespace, kKey, g_variant_new_uint32(portal->scheme)),
                                nullptr);
  g_dbus_connection_flush_sync(portal->bus, nullptr, nullptr);
  return G_SOURCE_CONTINUE;
}

gboolean on_end(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_REMOVE;
}

}  // namespace

int main() {
  Portal portal;
  GError* error = nullptr;
  portal.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!portal.bus) {
    std::fprintf(stderr, "portal_stand_in: %s\n", error->message);
    return 1;
  }
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterfaceXml, nullptr);
  const GDBusInterfaceVTable vtable{&on_call, nullptr, nullptr, {}};
  g_dbus_connection_register_object(portal.bus, kPath, node->interfaces[0], &vtable, &portal, nullptr, nullptr);
  g_bus_own_name_on_connection(portal.bus, "org.freedesktop.portal.Desktop", G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
                               nullptr, nullptr, nullptr);
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGUSR1, &on_flip, &portal);
  g_unix_signal_add(SIGTERM, &on_end, loop);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
  g_dbus_node_info_unref(node);
  g_object_unref(portal.bus);
  return 0;
}
