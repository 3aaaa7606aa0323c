// The session services a notification area test needs that no panel provides: a
// StatusNotifierWatcher that no host has registered with, as a desktop has when its
// panel has no notification area, and a notification server that writes down what
// it is asked to show.
//
//   session_stand_in [--watcher] [--notifications=FILE]
//
// --watcher owns org.kde.StatusNotifierWatcher, takes items' registrations and
// answers IsStatusNotifierHostRegistered with false. On SIGUSR1 a host registers
// with it (StatusNotifierHostRegistered, and the property turns true), as when a
// panel with a notification area starts after the watcher.
// --notifications=FILE owns org.freedesktop.Notifications and appends one line per
// notification to FILE: "<app name>\t<summary>\t<body>".
// Each registration is printed on stdout as "registered <service>" and each
// unregistration (an item leaving the bus) as "unregistered <service>"; SIGTERM ends it.

#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kWatcherXml[] = R"xml(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
</node>)xml";

constexpr char kNotificationsXml[] = R"xml(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  </interface>
</node>)xml";

struct Item {
  std::string service;  // as the item registered it: a bus name, or a name with a path
  std::string owner;    // the unique name behind it, whose leaving unregisters it
  guint watch = 0;
};

struct State {
  GDBusConnection* bus = nullptr;
  bool host = false;
  std::vector<Item> items;
  std::string notifications_file;
  guint32 last_notification = 0;
};

State state;

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void emit_watcher_signal(const char* name, GVariant* parameters) {
  g_dbus_connection_emit_signal(state.bus, nullptr, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher", name,
                                parameters, nullptr);
}

void on_item_vanished(GDBusConnection*, const gchar* owner, gpointer) {
  for (auto it = state.items.begin(); it != state.items.end(); ++it) {
    if (it->owner != owner) continue;
    const std::string service = it->service;
    g_bus_unwatch_name(it->watch);
    state.items.erase(it);
    say("unregistered " + service);
    emit_watcher_signal("StatusNotifierItemUnregistered", g_variant_new("(s)", service.c_str()));
    return;
  }
}

void watcher_method(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                    GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
  const gchar* argument = nullptr;
  g_variant_get(parameters, "(&s)", &argument);
  if (std::strcmp(method, "RegisterStatusNotifierHost") == 0) {
    g_dbus_method_invocation_return_value(invocation, nullptr);
    return;
  }
  // An item names its bus name or only its object path (then the sender is the name).
  std::string service = argument;
  if (!service.empty() && service[0] == '/') service = std::string(sender) + service;
  g_dbus_method_invocation_return_value(invocation, nullptr);
  for (const Item& item : state.items) {
    if (item.service == service) return;
  }
  Item item{service, sender, 0};
  item.watch = g_bus_watch_name_on_connection(state.bus, sender, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
                                              on_item_vanished, nullptr, nullptr);
  state.items.push_back(item);
  say("registered " + service);
  emit_watcher_signal("StatusNotifierItemRegistered", g_variant_new("(s)", service.c_str()));
}

GVariant* watcher_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property,
                           GError**, gpointer) {
  if (std::strcmp(property, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(state.host);
  if (std::strcmp(property, "ProtocolVersion") == 0) return g_variant_new_int32(0);
  GVariantBuilder names;
  g_variant_builder_init(&names, G_VARIANT_TYPE("as"));
  for (const Item& item : state.items) g_variant_builder_add(&names, "s", item.service.c_str());
  return g_variant_builder_end(&names);
}

gboolean on_host_wanted(gpointer) {
  if (state.host) return G_SOURCE_CONTINUE;
  state.host = true;
  say("host registered");
  emit_watcher_signal("StatusNotifierHostRegistered", nullptr);
  GVariantBuilder changed;
  g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&changed, "{sv}", "IsStatusNotifierHostRegistered", g_variant_new_boolean(TRUE));
  g_dbus_connection_emit_signal(state.bus, nullptr, "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties",
                                "PropertiesChanged",
                                g_variant_new("(sa{sv}as)", "org.kde.StatusNotifierWatcher", &changed, nullptr),
                                nullptr);
  return G_SOURCE_CONTINUE;
}

void notifications_method(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                          GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
  if (std::strcmp(method, "Notify") == 0) {
    const gchar *app = nullptr, *summary = nullptr, *body = nullptr;
    g_variant_get(parameters, "(&su&s&s&s@as@a{sv}i)", &app, nullptr, nullptr, &summary, &body, nullptr, nullptr,
                  nullptr);
    if (FILE* file = std::fopen(state.notifications_file.c_str(), "a")) {
      std::fprintf(file, "%s\t%s\t%s\n", app, summary, body);
      std::fclose(file);
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", ++state.last_notification));
  } else if (std::strcmp(method, "GetCapabilities") == 0) {
    const gchar* capabilities[] = {"body", nullptr};
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", capabilities));
  } else if (std::strcmp(method, "GetServerInformation") == 0) {
    g_dbus_method_invocation_return_value(invocation,
                                          g_variant_new("(ssss)", "session_stand_in", "tallowmere", "1", "1.2"));
  } else {
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }
}

// Exports `xml`'s interface at `path` and takes `name`; false when either fails.
bool serve(const char* xml, const char* path, const char* name, GDBusInterfaceMethodCallFunc method,
           GDBusInterfaceGetPropertyFunc property) {
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
  const GDBusInterfaceVTable vtable = {method, property, nullptr, {}};
  if (g_dbus_connection_register_object(state.bus, path, node->interfaces[0], &vtable, nullptr, nullptr,
                                        nullptr) == 0) {
    return false;
  }
  GVariant* reply = g_dbus_connection_call_sync(state.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "RequestName",
                                                g_variant_new("(su)", name, 4u), G_VARIANT_TYPE("(u)"),
                                                G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  guint32 result = 0;
  if (reply) {
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
  }
  return result == 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool watcher = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--watcher") {
      watcher = true;
    } else if (argument.rfind("--notifications=", 0) == 0) {
      state.notifications_file = argument.substr(16);
    } else {
      std::fprintf(stderr, "session_stand_in: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  state.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!state.bus) return 3;
  // The watcher's object is in place before its name is taken: whoever sees the name
  // may call it at once.
  if (watcher && !serve(kWatcherXml, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher", watcher_method,
                        watcher_property)) {
    return 4;
  }
  if (!state.notifications_file.empty() &&
      !serve(kNotificationsXml, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
             notifications_method, nullptr)) {
    return 5;
  }
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGUSR1, on_host_wanted, nullptr);
  g_unix_signal_add(
      SIGTERM, [](gpointer loop) { g_main_loop_quit(static_cast<GMainLoop*>(loop)); return G_SOURCE_REMOVE; },
      loop);
  say("ready");
  g_main_loop_run(loop);
  return 0;
}
