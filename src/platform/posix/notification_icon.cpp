// The notification icon on Linux desktops: a StatusNotifierItem on the session bus with
// its menu over com.canonical.dbusmenu, registered with the StatusNotifierWatcher and
// registered again whenever the watcher's owner changes (a restarted panel). Where no
// watcher runs, an XEmbed icon stands in, with the same menu.

#include "platform/notification_icon.h"

#include <chrono>

#include "platform/icon_bitmaps.h"
#include "platform/notification_icon_access.h"
#include "platform/notification_text.h"
#include "platform/posix/dbus_menu.h"
#include "platform/posix/glib_ptr.h"
#include "platform/posix/session_bus.h"
#include "platform/posix/status_notifier_item.h"
#include "platform/posix/xembed_icon.h"
#include "common/text.h"

namespace tallow::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";

posix::ItemPixmap item_pixmap(const RgbaPixels& image) {
  return {static_cast<std::int32_t>(image.width), static_cast<std::int32_t>(image.height),
          status_notifier_pixmap(image)};
}

// The same cut as on Windows, so a tooltip reads alike everywhere.
std::string item_tooltip(std::string_view text) { return utf16_to_utf8(tooltip_text(text)); }

}  // namespace

struct NotificationIcon::Impl {
  explicit Impl(NotificationIconTiming retry_timing) : timing(retry_timing), retry(retry_timing) {}
  ~Impl() { remove(); }

  Result<void> start(const RgbaPixels& image);
  void remove();

  Result<void> set_menu(Menu items);
  Result<void> set_image(const RgbaPixels& image);
  Result<void> set_tooltip(std::string_view text);
  bool is_added() const { return registered || (xembed && xembed->is_embedded()); }
  bool removed() const { return retry.stage() == IconAddRetry::Stage::removed; }

  void watch_for_watcher();
  void register_item();
  void on_registered(bool ok, std::string error);
  void use_xembed(bool wanted);
  void check_added();
  void start_retrying();
  gboolean retry_add();

  NotificationIconTiming timing;
  Menu menu;
  std::string tooltip;
  std::vector<std::uint8_t> pixels;
  std::uint32_t width = 0, height = 0;

  GDBusConnection* bus = nullptr;
  std::unique_ptr<posix::DbusMenu> dbus_menu;
  std::unique_ptr<posix::StatusNotifierItem> item;
  std::unique_ptr<posix::XembedIcon> xembed;
  posix::GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
  guint watch = 0;
  posix::GSourcePtr retry_timer;

  IconAddRetry retry;
  bool watcher_present = false;
  unsigned watcher_generation = 0;  // one more for every watcher that appears
  bool registering = false;
  bool registered = false;
  std::string last_error;
};

Result<void> NotificationIcon::Impl::start(const RgbaPixels& image) {
  bus = posix::session_bus();
  if (bus) {
    dbus_menu = std::make_unique<posix::DbusMenu>();
    dbus_menu->set(menu);
    auto made = posix::StatusNotifierItem::create(bus, "tallowmered", posix::kDbusMenuPath, [this] {
      // Hosts that leave the menu to the item get asked to show it.
      dbus_menu->show_to_user(0);
    });
    if (!made) return made.error();
    item = std::move(made).value();
    item->set_pixmap(item_pixmap(image));
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
  // Called at once with the watcher's presence, then on every change of its owner: a
  // new owner is a new watcher that knows nothing of the item.
  watch = g_bus_watch_name_on_connection(
      bus, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->watcher_present = true;
        self->registered = false;
        // An answer still due from the watcher before belongs to that one.
        ++self->watcher_generation;
        self->registering = false;
        self->register_item();
      },
      [](GDBusConnection*, const gchar*, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->watcher_present = false;
        self->registered = false;
        self->last_error = "no StatusNotifierWatcher runs on the session bus";
        // The XEmbed icon waits one retry: a panel that restarts, or one that starts
        // just after the tray at login, brings its watcher back within moments, and
        // the fallback would load GTK into the tray for the rest of its life.
        self->check_added();
      },
      this, nullptr);
}

void NotificationIcon::Impl::register_item() {
  if (removed() || !watcher_present || registering) return;
  registering = true;
  struct Call {
    Impl* self;
    unsigned generation;
  };
  g_dbus_connection_call(
      bus, kWatcherName, kWatcherPath, kWatcherName, "RegisterStatusNotifierItem",
      g_variant_new("(s)", item->bus_name().c_str()), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1,
      cancellable.get(),
      [](GObject* source, GAsyncResult* result, gpointer data) {
        const std::unique_ptr<Call> call(static_cast<Call*>(data));
        GError* raw_error = nullptr;
        const posix::GVariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw_error));
        const posix::GErrorPtr error(raw_error);
        // A cancelled call belongs to an icon that no longer exists.
        if (error && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
        if (call->generation != call->self->watcher_generation) return;
        call->self->on_registered(reply != nullptr, posix::error_text(error.get()));
      },
      new Call{this, watcher_generation});
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
  use_xembed(false);
  check_added();
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
  const RgbaPixels image{width, height, pixels};
  xembed = posix::XembedIcon::create(menu, image, item_tooltip(tooltip), [this] { check_added(); });
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
  if (!watcher_present && !registered) use_xembed(true);
  if (is_added()) {
    retry.added();
    retry_timer.reset();
    return G_SOURCE_REMOVE;
  }
  register_item();
  if (retry.refused(Clock::now(), last_error + (xembed ? "; no XEmbed system tray docked it"
                                                         : "; no X display for an XEmbed icon"))) {
    return G_SOURCE_CONTINUE;
  }
  retry_timer.reset();
  return G_SOURCE_REMOVE;
}

void NotificationIcon::Impl::remove() {
  if (removed()) return;
  retry.remove();
  retry_timer.reset();
  g_cancellable_cancel(cancellable.get());
  if (watch != 0) g_bus_unwatch_name(watch);
  watch = 0;
  if (item) {
    // Hosts hide a passive item at once; releasing its name then takes it out.
    item->set_status("Passive");
    item.reset();
  }
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

Result<void> NotificationIcon::Impl::set_image(const RgbaPixels& image) {
  if (auto checked = check_rgba_pixels(image); !checked) return checked;
  width = image.width;
  height = image.height;
  pixels.assign(image.bytes.begin(), image.bytes.end());
  if (item) item->set_pixmap(item_pixmap(image));
  if (xembed) xembed->set_image(image);
  return {};
}

Result<void> NotificationIcon::Impl::set_tooltip(std::string_view text) {
  tooltip = std::string(text);
  if (item) item->set_tooltip(item_tooltip(tooltip));
  if (xembed) xembed->set_tooltip(item_tooltip(tooltip));
  return {};
}

// ---------------------------------------------------------------------------

NotificationIcon::NotificationIcon(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NotificationIcon::NotificationIcon(NotificationIcon&&) noexcept = default;
NotificationIcon& NotificationIcon::operator=(NotificationIcon&&) noexcept = default;
NotificationIcon::~NotificationIcon() = default;

Result<NotificationIcon> NotificationIcon::create(Menu menu, const RgbaPixels& image,
                                                  std::string_view tooltip, NotificationIconTiming timing) {
  auto impl = std::make_unique<Impl>(timing);
  if (auto kept = impl->set_image(image); !kept) return kept.error();
  impl->menu = std::move(menu);
  impl->tooltip = std::string(tooltip);
  if (auto started = impl->start(image); !started) return started.error();
  return NotificationIcon(std::move(impl));
}

Result<void> NotificationIcon::set_menu(Menu menu) { return impl_->set_menu(std::move(menu)); }
Result<void> NotificationIcon::set_image(const RgbaPixels& image) { return impl_->set_image(image); }
Result<void> NotificationIcon::set_tooltip(std::string_view tooltip) { return impl_->set_tooltip(tooltip); }
bool NotificationIcon::is_added() const { return !impl_->removed() && impl_->is_added(); }
std::optional<Error> NotificationIcon::add_failure() const { return impl_->retry.failure(); }

const Menu& NotificationIconAccess::menu(const NotificationIcon& icon) { return icon.impl_->menu; }
const std::string& NotificationIconAccess::tooltip(const NotificationIcon& icon) { return icon.impl_->tooltip; }
void NotificationIconAccess::remove(NotificationIcon& icon) { icon.impl_->remove(); }

}  // namespace tallow::platform
