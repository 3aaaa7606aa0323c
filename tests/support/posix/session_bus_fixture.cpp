#include "support/posix/session_bus_fixture.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace tallow::test {
namespace {

constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";

constexpr char kWatcherXml[] = R"xml(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>)xml";

GVariant* call(GDBusConnection* connection, const std::string& service, const char* path,
               const char* interface, const char* method, GVariant* parameters, const char* reply_type) {
  return g_dbus_connection_call_sync(connection, service.c_str(), path, interface, method, parameters,
                                     reply_type ? G_VARIANT_TYPE(reply_type) : nullptr,
                                     G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
}

// Within the session bus, RequestName and ReleaseName of the connection itself.
guint32 name_call(GDBusConnection* connection, const char* method, GVariant* parameters) {
  GVariant* reply = call(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         method, parameters, "(u)");
  guint32 result = 0;
  if (reply) {
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
  }
  return result;
}

MenuRow row_of(GVariant* node) {
  MenuRow row;
  GVariant* properties = nullptr;
  GVariant* children = nullptr;
  g_variant_get(node, "(i@a{sv}@av)", &row.id, &properties, &children);
  const gchar* text = nullptr;
  row.type = g_variant_lookup(properties, "type", "&s", &text) ? text : "standard";
  row.label = g_variant_lookup(properties, "label", "&s", &text) ? text : "";
  row.toggle_type = g_variant_lookup(properties, "toggle-type", "&s", &text) ? text : "";
  gboolean enabled = TRUE;
  if (g_variant_lookup(properties, "enabled", "b", &enabled)) row.enabled = enabled;
  g_variant_lookup(properties, "toggle-state", "i", &row.toggle_state);
  g_variant_unref(properties);
  g_variant_unref(children);
  return row;
}

// Whether a process of group `group` still runs; a zombie has ended, whoever reaps it.
bool group_alive(int group) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string stat = read_file(entry.path() / "stat");
    const auto close = stat.rfind(')');
    char state = 0;
    int parent = 0, process_group = 0;
    if (close != std::string::npos &&
        std::sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &parent, &process_group) == 3 &&
        process_group == group && state != 'Z') {
      return true;
    }
  }
  return false;
}

}  // namespace

PrivateSessionBus::PrivateSessionBus(const std::vector<BusService>& services) {
  // Only the services given here: the standard session configuration would start any
  // portal, keyring or notification daemon installed on the machine, which outlive the
  // bus and hold the test's output open.
  const auto service_directory = directory_ / "services";
  std::filesystem::create_directories(service_directory);
  for (const BusService& service : services) {
    std::string exec;
    for (const std::string& word : service.command) exec += (exec.empty() ? "'" : " '") + word + "'";
    write_file(service_directory / (service.name + ".service"),
               "[D-BUS Service]\nName=" + service.name + "\nExec=" + exec + "\n");
  }
  write_file(directory_ / "bus.conf",
             "<busconfig><type>session</type><listen>unix:dir=" + directory_.path().string() +
                 "</listen><auth>EXTERNAL</auth><servicedir>" + service_directory.string() +
                 "</servicedir><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");

  int address_pipe[2];
  if (::pipe(address_pipe) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, address_pipe[0]);
  // A process group of its own, which the services it starts join.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  std::vector<std::string> words{"dbus-daemon", "--config-file=" + (directory_ / "bus.conf").string(), "--nofork",
                                 "--print-address=" + std::to_string(address_pipe[1])};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ) == 0) pid_ = pid;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(address_pipe[1]);
  char buffer[512];
  ssize_t got;
  // The daemon writes its address, one line, once it listens.
  while ((got = ::read(address_pipe[0], buffer, sizeof buffer)) > 0) {
    address_.append(buffer, static_cast<std::size_t>(got));
    if (address_.find('\n') != std::string::npos) break;
  }
  ::close(address_pipe[0]);
  if (const auto end = address_.find('\n'); end != std::string::npos) address_.resize(end);
}

PrivateSessionBus::~PrivateSessionBus() {
  if (pid_ <= 0) return;
  // The daemon and every service it started; those that take their time are killed.
  ::kill(-pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  if (!wait_until([&] { return !group_alive(pid_); }, std::chrono::seconds(10))) ::kill(-pid_, SIGKILL);
}

BusConnection::BusConnection(const std::string& address, const std::function<void(GDBusConnection*)>& setup) {
  context_ = g_main_context_new();
  // Everything the connection dispatches goes to this connection's own thread.
  g_main_context_push_thread_default(context_);
  connection_ = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  if (connection_) {
    g_dbus_connection_set_exit_on_close(connection_, FALSE);
    setup(connection_);
  }
  g_main_context_pop_thread_default(context_);
  thread_ = std::thread([this] {
    g_main_context_push_thread_default(context_);
    // A flag rather than g_main_loop_quit: a quit that comes before the loop runs is lost.
    while (!stopping_) g_main_context_iteration(context_, TRUE);
    g_main_context_pop_thread_default(context_);
  });
}

BusConnection::~BusConnection() {
  if (connection_) g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  stopping_ = true;
  g_main_context_wakeup(context_);
  thread_.join();
  if (connection_) g_object_unref(connection_);
  g_main_context_unref(context_);
}

bool BusConnection::own(const char* name) {
  // DO_NOT_QUEUE: 1 is the primary owner.
  return connection_ && name_call(connection_, "RequestName", g_variant_new("(su)", name, 4u)) == 1;
}

void BusConnection::release(const char* name) {
  if (connection_) name_call(connection_, "ReleaseName", g_variant_new("(s)", name));
}

namespace {

constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kPortalXml[] = R"xml(<node>
  <interface name="org.freedesktop.portal.Settings">
    <method name="Read">
      <arg name="namespace" type="s" direction="in"/><arg name="key" type="s" direction="in"/>
      <arg name="value" type="v" direction="out"/>
    </method>
    <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
  </interface>
</node>)xml";

// org.freedesktop.appearance color-scheme: 2 prefers light, 1 dark.
GVariant* color_scheme(bool light) { return g_variant_new_uint32(light ? 2 : 1); }

}  // namespace

TestPortal::TestPortal(const std::string& bus_address, bool light)
    : light_(light), bus_(bus_address, [this](GDBusConnection* connection) { serve(connection); }) {
  bus_.own("org.freedesktop.portal.Desktop");
}

void TestPortal::serve(GDBusConnection* connection) {
  static GDBusNodeInfo* const node = g_dbus_node_info_new_for_xml(kPortalXml, nullptr);
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
         GDBusMethodInvocation* invocation, gpointer self) {
        const gchar* name_space = nullptr;
        const gchar* key = nullptr;
        g_variant_get(parameters, "(&s&s)", &name_space, &key);
        if (g_strcmp0(name_space, "org.freedesktop.appearance") != 0 || g_strcmp0(key, "color-scheme") != 0) {
          g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound", key);
          return;
        }
        // Read wraps the value in one variant more than the setting itself.
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(v)", g_variant_new_variant(color_scheme(static_cast<TestPortal*>(self)->light_))));
      },
      nullptr, nullptr, {}};
  registration_ = g_dbus_connection_register_object(connection, kPortalPath, node->interfaces[0], &vtable, this, nullptr,
                                                    nullptr);
}

TestPortal::~TestPortal() {
  if (registration_) g_dbus_connection_unregister_object(bus_.get(), registration_);
}

void TestPortal::set_light(bool light) {
  light_ = light;
  if (bus_.get()) {
    g_dbus_connection_emit_signal(bus_.get(), nullptr, kPortalPath, "org.freedesktop.portal.Settings", "SettingChanged",
                                  g_variant_new("(ssv)", "org.freedesktop.appearance", "color-scheme", color_scheme(light)),
                                  nullptr);
  }
}

TestWatcher::TestWatcher(const std::string& bus_address, bool host)
    : host_(host), bus_(bus_address, [this](GDBusConnection* connection) { serve(connection); }) {
  own_name();
}

void TestWatcher::serve(GDBusConnection* connection) {
  static GDBusNodeInfo* const node = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
  static const GDBusInterfaceVTable vtable = {&TestWatcher::on_method, &TestWatcher::on_property, nullptr, {}};
  registration_ = g_dbus_connection_register_object(connection, "/StatusNotifierWatcher", node->interfaces[0], &vtable,
                                                    this, nullptr, nullptr);
  menu_signals_ = g_dbus_connection_signal_subscribe(
      connection, nullptr, "com.canonical.dbusmenu", nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal, GVariant* parameters,
         gpointer self) {
        auto* watcher = static_cast<TestWatcher*>(self);
        const std::lock_guard lock(watcher->mutex_);
        ++watcher->signal_counts_[signal];
        if (g_strcmp0(signal, "ItemsPropertiesUpdated") != 0) return;
        GVariantIter* updated = nullptr;
        g_variant_get(parameters, "(a(ia{sv})a(ias))", &updated, nullptr);
        std::int32_t id = 0;
        GVariant* properties = nullptr;
        while (g_variant_iter_next(updated, "(i@a{sv})", &id, &properties)) {
          const gchar* label = nullptr;
          if (g_variant_lookup(properties, "label", "&s", &label)) watcher->announced_labels_[id] = label;
          g_variant_unref(properties);
        }
        g_variant_iter_free(updated);
      },
      this, nullptr);
  item_signals_ = g_dbus_connection_signal_subscribe(
      connection, nullptr, "org.kde.StatusNotifierItem", nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal, GVariant*, gpointer self) {
        auto* watcher = static_cast<TestWatcher*>(self);
        const std::lock_guard lock(watcher->mutex_);
        ++watcher->signal_counts_[signal];
      },
      this, nullptr);
}

TestWatcher::~TestWatcher() {
  if (!bus_.get()) return;
  if (registration_) g_dbus_connection_unregister_object(bus_.get(), registration_);
  if (menu_signals_) g_dbus_connection_signal_unsubscribe(bus_.get(), menu_signals_);
  if (item_signals_) g_dbus_connection_signal_unsubscribe(bus_.get(), item_signals_);
}

void TestWatcher::register_host() {
  host_ = true;
  if (bus_.get()) {
    g_dbus_connection_emit_signal(bus_.get(), nullptr, "/StatusNotifierWatcher", kWatcherName,
                                  "StatusNotifierHostRegistered", nullptr, nullptr);
  }
}

void TestWatcher::drop(const std::string& item) {
  if (bus_.get()) {
    g_dbus_connection_emit_signal(bus_.get(), nullptr, "/StatusNotifierWatcher", kWatcherName,
                                  "StatusNotifierItemUnregistered", g_variant_new("(s)", item.c_str()), nullptr);
  }
}

void TestWatcher::release_name() { bus_.release(kWatcherName); }

bool TestWatcher::own_name() { return bus_.own(kWatcherName); }

bool TestWatcher::activate(const std::string& service) const {
  if (!bus_.get()) return false;
  // The item answers that it has no action of its own (an error), and acts all the same.
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus_.get(), service.c_str(), "/StatusNotifierItem",
                                                "org.kde.StatusNotifierItem", "Activate", g_variant_new("(ii)", 0, 0),
                                                nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
  const bool answered = reply || (error && g_dbus_error_is_remote_error(error));
  if (reply) g_variant_unref(reply);
  if (error) g_error_free(error);
  return answered;
}

std::map<std::string, int> TestWatcher::signal_counts() const {
  const std::lock_guard lock(mutex_);
  return signal_counts_;
}

std::vector<std::string> TestWatcher::registrations() const {
  const std::lock_guard lock(mutex_);
  return registrations_;
}

void TestWatcher::on_method(GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*,
                            const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                            gpointer data) {
  auto* self = static_cast<TestWatcher*>(data);
  if (std::strcmp(method, "RegisterStatusNotifierItem") == 0) {
    const gchar* service = nullptr;
    g_variant_get(parameters, "(&s)", &service);
    // A path instead of a name means "this path, under the caller's own name".
    const std::string name = service[0] == '/' ? std::string(sender) : std::string(service);
    {
      const std::lock_guard lock(self->mutex_);
      self->registrations_.push_back(name);
    }
    g_dbus_connection_emit_signal(connection, nullptr, "/StatusNotifierWatcher", kWatcherName,
                                  "StatusNotifierItemRegistered", g_variant_new("(s)", name.c_str()), nullptr);
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* TestWatcher::on_property(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                   const gchar* property, GError**, gpointer data) {
  auto* self = static_cast<TestWatcher*>(data);
  if (std::strcmp(property, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(self->host_);
  if (std::strcmp(property, "ProtocolVersion") == 0) return g_variant_new_int32(0);
  GVariantBuilder items;
  g_variant_builder_init(&items, G_VARIANT_TYPE("as"));
  for (const std::string& name : self->registrations()) g_variant_builder_add(&items, "s", name.c_str());
  return g_variant_builder_end(&items);
}

GVariant* TestWatcher::item_property(const std::string& service, const char* name) const {
  if (!bus_.get()) return nullptr;
  GVariant* reply = call(bus_.get(), service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", "org.kde.StatusNotifierItem", name), "(v)");
  if (!reply) return nullptr;
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  g_variant_unref(reply);
  return value;
}

std::optional<std::string> TestWatcher::item_string(const std::string& service, const char* name) const {
  GVariant* value = item_property(service, name);
  if (!value) return std::nullopt;
  std::optional<std::string> text;
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) || g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH)) {
    text = g_variant_get_string(value, nullptr);
  }
  g_variant_unref(value);
  return text;
}

std::optional<std::string> TestWatcher::tooltip(const std::string& service) const {
  GVariant* value = item_property(service, "ToolTip");
  if (!value) return std::nullopt;
  std::optional<std::string> title;
  if (g_variant_is_of_type(value, G_VARIANT_TYPE("(sa(iiay)ss)"))) {
    const gchar* text = nullptr;
    g_variant_get_child(value, 2, "&s", &text);
    title = text;
  }
  g_variant_unref(value);
  return title;
}

std::optional<std::vector<ItemPixmap>> TestWatcher::pixmaps(const std::string& service) const {
  GVariant* value = item_property(service, "IconPixmap");
  if (!value) return std::nullopt;
  std::optional<std::vector<ItemPixmap>> found;
  if (g_variant_is_of_type(value, G_VARIANT_TYPE("a(iiay)"))) {
    found.emplace();
    for (gsize i = 0; i < g_variant_n_children(value); ++i) {
      ItemPixmap pixmap;
      GVariant* bytes = nullptr;
      g_variant_get_child(value, i, "(ii@ay)", &pixmap.width, &pixmap.height, &bytes);
      gsize size = 0;
      const auto* data = static_cast<const std::uint8_t*>(g_variant_get_fixed_array(bytes, &size, 1));
      pixmap.argb.assign(data, data + size);
      g_variant_unref(bytes);
      found->push_back(std::move(pixmap));
    }
  }
  g_variant_unref(value);
  return found;
}

std::optional<std::vector<MenuRow>> TestWatcher::menu(const std::string& service) const {
  const std::optional<std::string> path = item_string(service, "Menu");
  if (!path) return std::nullopt;
  GVariant* reply = call(bus_.get(), service, path->c_str(), "com.canonical.dbusmenu", "GetLayout",
                         g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)), "(u(ia{sv}av))");
  if (!reply) return std::nullopt;
  GVariant* root = g_variant_get_child_value(reply, 1);
  GVariant* children = g_variant_get_child_value(root, 2);
  std::vector<MenuRow> rows;
  for (gsize i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* boxed = g_variant_get_child_value(children, i);
    GVariant* node = g_variant_get_variant(boxed);
    rows.push_back(row_of(node));
    g_variant_unref(node);
    g_variant_unref(boxed);
  }
  g_variant_unref(children);
  g_variant_unref(root);
  g_variant_unref(reply);
  return rows;
}

std::optional<std::string> TestWatcher::announced_label(std::int32_t id) const {
  const std::lock_guard lock(mutex_);
  const auto found = announced_labels_.find(id);
  return found == announced_labels_.end() ? std::nullopt : std::optional(found->second);
}

bool TestWatcher::click(const std::string& service, std::int32_t id) const {
  const std::optional<std::string> path = item_string(service, "Menu");
  if (!path) return false;
  GVariant* reply = call(bus_.get(), service, path->c_str(), "com.canonical.dbusmenu", "Event",
                         g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0u), nullptr);
  if (!reply) return false;
  g_variant_unref(reply);
  return true;
}

}  // namespace tallow::test
