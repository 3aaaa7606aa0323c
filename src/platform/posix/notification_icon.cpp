// The notification icon on Linux desktops: a StatusNotifierItem on the session bus with
// its menu over com.canonical.dbusmenu, registered with the StatusNotifierWatcher while
// the watcher reports a host that draws items, and registered again whenever the watcher
// changes or forgets the item. Where no host draws items, an XEmbed icon stands in, with
// the same menu. Where neither exists, the icon waits for one, however long it takes.

#include "platform/notification_icon.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/text.h"
#include "platform/environment.h"
#include "platform/icon_bitmaps.h"
#include "platform/notification_icon_access.h"
#include "platform/notification_text.h"
#include "platform/posix/dbus_menu.h"
#include "platform/posix/desktop_notification.h"
#include "platform/posix/dialog_helper.h"
#include "platform/posix/glib_ptr.h"
#include "platform/posix/session_bus.h"
#include "platform/posix/status_notifier_item.h"
#include "platform/posix/xembed_icon.h"

namespace tallow::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";

// A watcher that keeps dropping the item is not asked to take it back more often.
constexpr auto kRegistrationPause = std::chrono::seconds(1);
// How long a host that was told the item is only a menu has to open it before the
// item opens it itself.
constexpr guint kHostMenuWaitMs = 300;

std::vector<posix::ItemPixmap> item_pixmaps(const IconPicture& picture) {
  std::vector<posix::ItemPixmap> pixmaps;
  for (const IconImage& image : picture.images) {
    pixmaps.push_back({static_cast<std::int32_t>(image.width), static_cast<std::int32_t>(image.height),
                       status_notifier_pixmap({image.width, image.height, image.rgba})});
  }
  return pixmaps;
}

// The same cut as on Windows, so a tooltip reads alike everywhere.
std::string item_tooltip(std::string_view text) { return utf16_to_utf8(tooltip_text(text)); }

// Run from its build tree, the tray finds its icons there (<build>/icons beside bin/),
// and tells the hosts; installed, they are in the hicolor theme, where hosts look anyway.
std::string icon_theme_path() {
  const auto self = executable_path();
  if (!self) return {};
  const std::filesystem::path icons = self->parent_path().parent_path() / "icons";
  std::error_code error;
  return std::filesystem::is_directory(icons, error) ? icons.native() : std::string();
}

// The rows of `menu` as tallowmere-dialog's popup menu takes them.
std::vector<std::string> popup_menu_arguments(const Menu& menu) {
  std::vector<std::string> arguments{"menu"};
  for (const MenuItem& item : menu) {
    const char kind = item.kind == MenuItem::Kind::separator ? 's' : item.kind == MenuItem::Kind::check ? 'c' : 't';
    arguments.push_back(std::string{kind, item.enabled ? '1' : '0', item.checked ? '1' : '0'} + item.text);
  }
  return arguments;
}

// An X11 session: a popup menu of another program opens at the pointer there. Wayland
// gives no program a place on the screen of its own choosing.
bool is_x11_session() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return display && *display && !(wayland && *wayland);
}

// Whether the watcher's word about an unregistered item is about `bus_name`: watchers
// give the name alone, or with the object path after "/" (or "@", GNOME's).
bool names_item(std::string_view unregistered, std::string_view bus_name) {
  if (!unregistered.starts_with(bus_name)) return false;
  return unregistered.size() == bus_name.size() || unregistered[bus_name.size()] == '/' ||
         unregistered[bus_name.size()] == '@';
}

}  // namespace

struct NotificationIcon::Impl {
  explicit Impl(NotificationIconTiming retry_timing)
      : timing(retry_timing), retry(retry_timing, IconAddRetry::Patience::wait_and_tell) {}
  ~Impl() { remove(); }

  Result<void> start();
  void remove();

  Result<void> set_menu(Menu items);
  Result<void> set_picture(IconPicture new_picture);
  Result<void> set_tooltip(std::string_view text);

  // A host draws the item: a watcher runs and says a host has registered with it.
  bool host_present() const { return watcher_present && host_registered; }
  bool is_added() const { return (registered && host_present()) || (xembed && xembed->is_embedded()); }
  bool removed() const { return retry.stage() == IconAddRetry::Stage::removed; }

  void watch_for_watcher();
  void on_watcher_signal(std::string_view signal, GVariant* parameters);
  using WatcherAnswer = void (*)(Impl& self, GVariant* reply, const GError* error);
  void call_watcher(const char* interface, const char* method, GVariant* parameters, const GVariantType* reply_type,
                    WatcherAnswer answered);
  void ask_whether_a_host_is_registered();
  void place();
  void register_item();
  void on_registered(bool ok, std::string error);
  void use_xembed(bool wanted);
  void check_added();
  void start_retrying();
  gboolean retry_add();
  void tell_user_there_is_no_notification_area();
  void open_menu_unless_the_host_does();
  void open_own_menu();

  NotificationIconTiming timing;
  Menu menu;
  std::string tooltip;
  IconPicture picture;

  GDBusConnection* bus = nullptr;
  std::unique_ptr<posix::DbusMenu> dbus_menu;
  std::unique_ptr<posix::StatusNotifierItem> item;
  std::unique_ptr<posix::XembedIcon> xembed;
  std::unique_ptr<posix::HelperRun> own_menu;
  posix::GSourcePtr host_menu_wait;
  Clock::time_point menu_wanted{};
  posix::GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
  guint watch = 0;
  guint watcher_signals = 0;
  posix::GSourcePtr retry_timer;

  IconAddRetry retry;
  bool watcher_present = false;
  unsigned watcher_generation = 0;  // one more for every watcher that appears
  bool host_registered = false;
  bool registering = false;
  bool registered = false;
  Clock::time_point last_registration{};
  std::string last_error = "no notification area has appeared";
};

Result<void> NotificationIcon::Impl::start() {
  bus = posix::session_bus();
  if (bus) {
    dbus_menu = std::make_unique<posix::DbusMenu>();
    dbus_menu->set(menu);
    auto made = posix::StatusNotifierItem::create(bus, "tallowmered", posix::kDbusMenuPath, icon_theme_path(),
                                                  [this] { open_menu_unless_the_host_does(); });
    if (!made) return made.error();
    item = std::move(made).value();
    // Every property is in place before any watcher hears of the item: a host reads
    // them all as soon as it does.
    item->set_icon(picture.name, item_pixmaps(picture));
    item->set_tooltip(item_tooltip(tooltip));
    watch_for_watcher();
  } else {
    last_error = "there is no session bus";
    use_xembed(true);
  }
  start_retrying();
  return {};
}

void NotificationIcon::Impl::watch_for_watcher() {
  // Subscribed by the watcher's well-known name: the subscription follows each new owner.
  watcher_signals = g_dbus_connection_signal_subscribe(
      bus, kWatcherName, kWatcherName, nullptr, kWatcherPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal, GVariant* parameters,
         gpointer data) { static_cast<Impl*>(data)->on_watcher_signal(signal, parameters); },
      this, nullptr);
  // Called at once with the watcher's presence, then on every change of its owner: a
  // new owner is a new watcher that knows nothing of the item.
  watch = g_bus_watch_name_on_connection(
      bus, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->watcher_present = true;
        self->host_registered = false;
        self->registered = false;
        // An answer still due from the watcher before belongs to that one.
        ++self->watcher_generation;
        self->registering = false;
        self->ask_whether_a_host_is_registered();
      },
      [](GDBusConnection*, const gchar*, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->watcher_present = false;
        self->host_registered = false;
        self->registered = false;
        self->last_error = "no StatusNotifierWatcher runs on the session bus";
        self->place();
      },
      this, nullptr);
}

void NotificationIcon::Impl::on_watcher_signal(std::string_view signal, GVariant* parameters) {
  if (!watcher_present) return;
  if (signal == "StatusNotifierHostRegistered") {
    host_registered = true;
    place();
  } else if (signal == "StatusNotifierHostUnregistered") {
    // Another host may still be there; only the watcher knows.
    ask_whether_a_host_is_registered();
  } else if (signal == "StatusNotifierItemUnregistered" && registered && item &&
             g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) {
    const gchar* unregistered = nullptr;
    g_variant_get(parameters, "(&s)", &unregistered);
    if (!names_item(unregistered, item->bus_name())) return;
    // A host that dropped the item (one that read it too early) gets it again, though
    // not more than once a second; the retry timer asks again meanwhile.
    registered = false;
    last_error = "the StatusNotifierWatcher dropped the item";
    if (Clock::now() - last_registration >= kRegistrationPause) register_item();
    check_added();
  }
}

void NotificationIcon::Impl::call_watcher(const char* interface, const char* method, GVariant* parameters,
                                          const GVariantType* reply_type, WatcherAnswer answered) {
  struct Call {
    Impl* self;
    unsigned generation;
    WatcherAnswer answered;
  };
  g_dbus_connection_call(
      bus, kWatcherName, kWatcherPath, interface, method, parameters, reply_type, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1,
      cancellable.get(),
      [](GObject* source, GAsyncResult* result, gpointer data) {
        const std::unique_ptr<Call> call(static_cast<Call*>(data));
        GError* raw_error = nullptr;
        const posix::GVariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw_error));
        const posix::GErrorPtr error(raw_error);
        // A cancelled call belongs to an icon that no longer exists; an answer from a
        // watcher since replaced belongs to that one.
        if (error && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
        if (call->generation != call->self->watcher_generation) return;
        call->answered(*call->self, reply.get(), error.get());
      },
      new Call{this, watcher_generation, answered});
}

void NotificationIcon::Impl::ask_whether_a_host_is_registered() {
  call_watcher("org.freedesktop.DBus.Properties", "Get",
               g_variant_new("(ss)", kWatcherName, "IsStatusNotifierHostRegistered"), G_VARIANT_TYPE("(v)"),
               [](Impl& self, GVariant* reply, const GError*) {
                 if (!self.watcher_present) return;
                 // A watcher that cannot say is taken at its word that hosts come to it.
                 bool answer = true;
                 if (reply) {
                   GVariant* raw_value = nullptr;
                   g_variant_get(reply, "(v)", &raw_value);
                   const posix::GVariantPtr value(raw_value);
                   answer = g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value.get());
                 }
                 self.host_registered = answer;
                 if (!answer) self.last_error = "the StatusNotifierWatcher has no host that shows items";
                 self.place();
               });
}

void NotificationIcon::Impl::place() {
  if (removed()) return;
  if (host_present()) {
    // Once a host draws the item, the icon moves there and leaves the XEmbed tray.
    if (registered) {
      use_xembed(false);
    } else {
      register_item();
    }
  }
  check_added();
}

void NotificationIcon::Impl::register_item() {
  if (removed() || !host_present() || registering) return;
  registering = true;
  last_registration = Clock::now();
  call_watcher(kWatcherName, "RegisterStatusNotifierItem", g_variant_new("(s)", item->bus_name().c_str()), nullptr,
               [](Impl& self, GVariant* reply, const GError* error) {
                 self.on_registered(reply != nullptr, posix::error_text(error));
               });
}

void NotificationIcon::Impl::on_registered(bool ok, std::string error) {
  registering = false;
  if (!ok) {
    last_error = "the StatusNotifierWatcher refused the item: " + error;
    start_retrying();
    return;
  }
  // Between the call and its answer the watcher may have gone; a new one is asked anew.
  if (!watcher_present) return;
  registered = true;
  place();
}

void NotificationIcon::Impl::use_xembed(bool wanted) {
  if (removed()) return;
  if (!wanted) {
    if (xembed) xembed->set_visible(false);
    return;
  }
  if (xembed) {
    xembed->set_visible(true);
    return;
  }
  xembed = posix::XembedIcon::create(menu, picture, item_tooltip(tooltip), [this] { check_added(); });
}

void NotificationIcon::Impl::check_added() {
  if (is_added()) {
    retry.added();
    retry_timer.reset();
    return;
  }
  start_retrying();
}

void NotificationIcon::Impl::start_retrying() {
  // The time runs from the first refusal, not from each one while the timer runs.
  if (retry_timer || !retry.begin(Clock::now())) return;
  retry_timer.reset(g_timeout_source_new(static_cast<guint>(timing.retry_interval.count())));
  g_source_set_callback(
      retry_timer.get(), [](gpointer data) { return static_cast<Impl*>(data)->retry_add(); }, this, nullptr);
  g_source_attach(retry_timer.get(), g_main_context_default());
}

gboolean NotificationIcon::Impl::retry_add() {
  // The XEmbed icon waits one retry: a panel that restarts, or one that starts just
  // after the tray at login, brings its host back within moments, and the fallback
  // would load GTK into the tray for the rest of its life.
  if (!host_present()) use_xembed(true);
  if (is_added()) {
    retry.added();
    retry_timer.reset();
    return G_SOURCE_REMOVE;
  }
  if (Clock::now() - last_registration >= kRegistrationPause) register_item();
  const auto now = Clock::now();
  if (retry.time_to_tell_user(now)) tell_user_there_is_no_notification_area();
  if (retry.refused(now, last_error + (xembed ? "; no XEmbed system tray docked it"
                                              : "; no X display for an XEmbed icon"))) {
    return G_SOURCE_CONTINUE;
  }
  retry_timer.reset();
  return G_SOURCE_REMOVE;
}

void NotificationIcon::Impl::tell_user_there_is_no_notification_area() {
  std::fprintf(stderr, "tallowmered: %s\n", std::string(kNoNotificationAreaText).c_str());
  posix::send_desktop_notification(
      bus, {"tallowmered", "tallowmere-tray", "tallowmered", std::string(kNoNotificationAreaText)});
}

void NotificationIcon::Impl::open_menu_unless_the_host_does() {
  if (!is_x11_session()) return;
  menu_wanted = Clock::now();
  host_menu_wait.reset(g_timeout_source_new(kHostMenuWaitMs));
  g_source_set_callback(
      host_menu_wait.get(),
      [](gpointer data) {
        auto* self = static_cast<Impl*>(data);
        if (self->dbus_menu && self->dbus_menu->last_opened() < self->menu_wanted) self->open_own_menu();
        self->host_menu_wait.reset();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
  g_source_attach(host_menu_wait.get(), g_main_context_default());
}

void NotificationIcon::Impl::open_own_menu() {
  if (own_menu && own_menu->running()) return;
  // Picks are taken from the menu as it was opened, whatever has replaced it since.
  own_menu = posix::HelperRun::start(popup_menu_arguments(menu), [shown = menu](const posix::HelperOutcome& outcome) {
    if (outcome.exit_status != 0) return;
    char* end = nullptr;
    const unsigned long row = std::strtoul(outcome.output.c_str(), &end, 10);
    if (end == outcome.output.c_str() || *end != '\0' || row >= shown.size()) return;
    if (const auto command = shown[row].picked_command()) queue_picked_command(std::string(*command));
  });
}

void NotificationIcon::Impl::remove() {
  if (removed()) return;
  retry.remove();
  retry_timer.reset();
  g_cancellable_cancel(cancellable.get());
  if (watch != 0) g_bus_unwatch_name(watch);
  watch = 0;
  if (watcher_signals != 0) g_dbus_connection_signal_unsubscribe(bus, watcher_signals);
  watcher_signals = 0;
  if (item) {
    // Hosts hide a passive item at once; it leaves them with the tray's connection.
    item->set_status("Passive");
    item.reset();
  }
  host_menu_wait.reset();
  own_menu.reset();
  dbus_menu.reset();
  xembed.reset();
  if (bus) g_dbus_connection_flush_sync(bus, nullptr, nullptr);
  registered = false;
}

Result<void> NotificationIcon::Impl::set_menu(Menu items) {
  menu = std::move(items);
  if (dbus_menu) dbus_menu->set(menu);
  if (xembed) xembed->set_menu(menu);
  return {};
}

Result<void> NotificationIcon::Impl::set_picture(IconPicture new_picture) {
  if (auto checked = check_icon_picture(new_picture); !checked) return checked;
  picture = std::move(new_picture);
  if (item) item->set_icon(picture.name, item_pixmaps(picture));
  if (xembed) xembed->set_picture(picture);
  return {};
}

Result<void> NotificationIcon::Impl::set_tooltip(std::string_view text) {
  tooltip = std::string(text);
  if (item) item->set_tooltip(item_tooltip(tooltip));
  if (xembed) xembed->set_tooltip(item_tooltip(tooltip));
  return {};
}

// ---------------------------------------------------------------------------

std::span<const std::uint32_t> notification_icon_sizes() {
  // Panels draw tray icons at 16 to 24 pixels, high-density ones at twice that; each
  // size has a mask drawn for it, so no host has to scale a blurred picture.
  static constexpr std::uint32_t kSizes[] = {16, 22, 24, 32, 48};
  return kSizes;
}

NotificationIcon::NotificationIcon(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NotificationIcon::NotificationIcon(NotificationIcon&&) noexcept = default;
NotificationIcon& NotificationIcon::operator=(NotificationIcon&&) noexcept = default;
NotificationIcon::~NotificationIcon() = default;

Result<NotificationIcon> NotificationIcon::create(Menu menu, IconPicture picture, std::string_view tooltip,
                                                  NotificationIconTiming timing) {
  auto impl = std::make_unique<Impl>(timing);
  if (auto kept = impl->set_picture(std::move(picture)); !kept) return kept.error();
  impl->menu = std::move(menu);
  impl->tooltip = std::string(tooltip);
  if (auto started = impl->start(); !started) return started.error();
  return NotificationIcon(std::move(impl));
}

Result<void> NotificationIcon::set_menu(Menu menu) { return impl_->set_menu(std::move(menu)); }
Result<void> NotificationIcon::set_picture(IconPicture picture) { return impl_->set_picture(std::move(picture)); }
Result<void> NotificationIcon::set_tooltip(std::string_view tooltip) { return impl_->set_tooltip(tooltip); }
bool NotificationIcon::is_added() const { return !impl_->removed() && impl_->is_added(); }
std::optional<Error> NotificationIcon::add_failure() const { return impl_->retry.failure(); }

const Menu& NotificationIconAccess::menu(const NotificationIcon& icon) { return icon.impl_->menu; }
const std::string& NotificationIconAccess::tooltip(const NotificationIcon& icon) { return icon.impl_->tooltip; }
void NotificationIconAccess::remove(NotificationIcon& icon) { icon.impl_->remove(); }

}  // namespace tallow::platform
