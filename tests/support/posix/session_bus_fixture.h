#pragma once
// A private D-Bus session bus and stand-ins for the desktop around the tray: a watcher
// that owns org.kde.StatusNotifierWatcher, records the items that register, reads their
// properties and menus and clicks them the way a host does; and a desktop portal that
// tells a light or dark colour scheme.

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace tallow::test {

// A service a private bus starts when its name is asked for: the name and the program.
struct BusService {
  std::string name;
  std::vector<std::string> command;
};

// A session bus of the test's own: dbus-daemon with a configuration that activates only
// `services` (never a portal, keyring or panel installed on the machine), in a process
// group of its own, which the destructor ends with everything the bus started.
class PrivateSessionBus {
 public:
  explicit PrivateSessionBus(const std::vector<BusService>& services = {});
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  // Empty when the daemon did not start.
  const std::string& address() const { return address_; }

 private:
  TempDir directory_{"tallow-bus"};
  int pid_ = -1;
  std::string address_;
};

// One row of a dbusmenu layout, with libdbusmenu's defaults filled in.
struct MenuRow {
  std::int32_t id = 0;
  std::string type;          // "standard" or "separator"
  std::string label;         // as sent, with "__" for each "_"
  bool enabled = true;
  std::string toggle_type;   // "" or "checkmark"
  std::int32_t toggle_state = -1;
  bool operator==(const MenuRow&) const = default;
};

struct ItemPixmap {
  std::int32_t width = 0, height = 0;
  std::vector<std::uint8_t> argb;
  bool operator==(const ItemPixmap&) const = default;
};

// A connection to a bus, dispatched on a thread of its own. `setup` registers what the
// connection serves and subscribes to before that thread starts, so all of it is
// dispatched there (it is not run without a connection).
class BusConnection {
 public:
  BusConnection(const std::string& address, const std::function<void(GDBusConnection*)>& setup);
  ~BusConnection();
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;

  GDBusConnection* get() const { return connection_; }
  // Takes the well-known name (true when this connection is now its owner), or gives it up.
  bool own(const char* name);
  void release(const char* name);

 private:
  GMainContext* context_ = nullptr;
  std::atomic<bool> stopping_{false};
  GDBusConnection* connection_ = nullptr;
  std::thread thread_;
};

// org.freedesktop.portal.Desktop's settings, with a light or a dark colour scheme.
class TestPortal {
 public:
  TestPortal(const std::string& bus_address, bool light);
  ~TestPortal();
  // The user switched the scheme: SettingChanged.
  void set_light(bool light);

 private:
  void serve(GDBusConnection* connection);

  std::atomic<bool> light_;
  guint registration_ = 0;
  BusConnection bus_;  // last: everything it serves is in place before its thread runs
};

class TestWatcher {
 public:
  // Connects to the bus and owns the watcher's name, served from a thread of its own.
  // Without a host the watcher says none has registered, as a panel with no
  // notification area does, until register_host.
  explicit TestWatcher(const std::string& bus_address, bool host = true);
  ~TestWatcher();
  TestWatcher(const TestWatcher&) = delete;
  TestWatcher& operator=(const TestWatcher&) = delete;

  // A host registers: a panel with a notification area that starts after the watcher.
  void register_host();

  // Gives the watcher's name up, and takes it again: a panel that restarts.
  void release_name();
  bool own_name();

  // Tells the items the watcher forgot one, naming it as `item` (a bus name, alone or
  // with the object path after "/" or "@").
  void drop(const std::string& item);
  // A host passing a click on the item (Activate), as LXQt's does.
  bool activate(const std::string& service) const;
  // How many times each signal of an item or a menu (NewIcon, NewToolTip,
  // LayoutUpdated, ItemsPropertiesUpdated...) has come, by name.
  std::map<std::string, int> signal_counts() const;

  // The bus names the items registered under, oldest first.
  std::vector<std::string> registrations() const;

  // Reads a property of the item at `service`; null when it cannot.
  GVariant* item_property(const std::string& service, const char* name) const;
  std::optional<std::string> item_string(const std::string& service, const char* name) const;
  // The title of the item's tooltip.
  std::optional<std::string> tooltip(const std::string& service) const;
  std::optional<std::vector<ItemPixmap>> pixmaps(const std::string& service) const;
  // The item's menu as the host reads it, and a host's click on one of its rows.
  std::optional<std::vector<MenuRow>> menu(const std::string& service) const;
  bool click(const std::string& service, std::int32_t id) const;
  // The label the last ItemsPropertiesUpdated gave row `id`: all that a host which
  // reads only the rows' types from a new layout (GNOME's) knows of a kept row.
  std::optional<std::string> announced_label(std::int32_t id) const;

 private:
  static void on_method(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                        const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                        gpointer data);
  static GVariant* on_property(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar* property, GError**, gpointer data);

  void serve(GDBusConnection* connection);

  std::atomic<bool> host_;
  guint registration_ = 0;
  guint menu_signals_ = 0;
  guint item_signals_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> registrations_;
  std::map<std::int32_t, std::string> announced_labels_;
  std::map<std::string, int> signal_counts_;
  BusConnection bus_;  // last: everything it serves is in place before its thread runs
};

}  // namespace tallow::test
