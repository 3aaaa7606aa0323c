// The notification icon on Linux desktops: a StatusNotifierItem on the session bus with
// its menu over com.canonical.dbusmenu, registered with the StatusNotifierWatcher while
// the watcher reports a host that draws items (status_notifier_watcher.h). Where no host
// draws items, an XEmbed icon stands in, with the same menu, in X11 sessions. Where
// neither exists, the icon waits for one, however long it takes.

#include "platform/notification_icon.h"

#include <chrono>
#include <cstdio>

#include "common/text.h"
#include "platform/environment.h"
#include "platform/notification_icon_access.h"
#include "platform/notification_text.h"
#include "platform/posix/icon/dbus_menu.h"
#include "platform/posix/icon/desktop_notification.h"
#include "platform/posix/display_session.h"
#include "platform/posix/glib_ptr.h"
#include "platform/posix/icon/icon_lookup.h"
#include "platform/posix/icon/own_popup_menu.h"
#include "platform/posix/session_bus.h"
#include "platform/posix/icon/status_notifier_item.h"
#include "platform/posix/icon/status_notifier_watcher.h"
#include "platform/posix/icon/xembed_icon.h"
#include "platform/posix/icon/xwayland_trays.h"

namespace tallow::platform {
namespace {

using Clock = std::chrono::steady_clock;
using posix::WatcherLink;

// The same cut as on Windows, so a tooltip reads alike everywhere.
std::string item_tooltip(std::string_view text) { return utf16_to_utf8(tooltip_text(text)); }

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

  // A host draws items: the watcher said one registered, and the item is offered to
  // it, held by it, or about to be offered again.
  bool host_draws_items() const {
    const auto state = watcher ? watcher->state() : WatcherLink::State::no_watcher;
    return state == WatcherLink::State::offering || state == WatcherLink::State::lost ||
           state == WatcherLink::State::registered;
  }
  bool is_added() const {
    return (watcher && watcher->state() == WatcherLink::State::registered) || (xembed && xembed->is_shown_in_tray());
  }
  bool removed() const { return retry.stage() == IconAddRetry::Stage::removed; }
  bool stop_retrying_once_added() {
    if (!is_added()) return false;
    retry.added();
    retry_timer.reset();
    return true;
  }
  // The themed icon's name, where hosts will find it; none, and the pixmaps alone,
  // where they would not.
  std::string item_icon_name() const {
    return posix::hosts_find_icon(icon_places.bases, picture.name) ? picture.name : std::string();
  }

  void reconcile();
  void show_in_xembed_tray();
  void look_for_xwayland_trays();
  void start_retrying();
  gboolean retry_add();

  NotificationIconTiming timing;
  PickedCommands picks;
  Menu menu;
  std::string tooltip;
  IconPicture picture;

  GDBusConnection* bus = nullptr;
  posix::ItemIconPlaces icon_places;
  std::unique_ptr<posix::DbusMenu> dbus_menu;
  std::unique_ptr<posix::StatusNotifierItem> item;
  std::unique_ptr<WatcherLink> watcher;
  std::unique_ptr<posix::OwnPopupMenu> own_popup;
  std::unique_ptr<posix::XembedIcon> xembed;
  std::string xembed_why_not = "no X display for an XEmbed icon";
  std::unique_ptr<posix::XwaylandTrays> xwayland_trays;
  bool xwayland_tray_seen = false;
  posix::GSourcePtr retry_timer;
  IconAddRetry retry;
};

Result<void> NotificationIcon::Impl::start() {
  bus = posix::session_bus();
  if (bus) {
    if (const auto self = executable_path()) icon_places = posix::item_icon_places(*self, posix::session_icon_bases());
    dbus_menu = std::make_unique<posix::DbusMenu>(picks);
    dbus_menu->set(menu);
    own_popup = std::make_unique<posix::OwnPopupMenu>(menu, *dbus_menu, picks);
    auto made =
        posix::StatusNotifierItem::create(bus, icon_places.theme_path.native(), [this] { own_popup->clicked(); });
    if (!made) return made.error();
    item = std::move(made).value();
    // Every property is in place before any watcher hears of the item: a host reads
    // them all as soon as it does.
    item->set_icon(item_icon_name(), picture.images);
    item->set_tooltip(item_tooltip(tooltip));
    watcher = std::make_unique<WatcherLink>(bus, item->bus_name(), [this] { reconcile(); });
  } else {
    // No bus, no host that draws items, ever: nothing to wait for.
    show_in_xembed_tray();
  }
  reconcile();
  start_retrying();
  return {};
}

void NotificationIcon::Impl::reconcile() {
  if (removed()) return;
  // Once a host draws the item, the icon leaves the XEmbed tray; it comes back there
  // only when no host does.
  if (xembed) xembed->set_visible(!host_draws_items());
  if (!stop_retrying_once_added()) start_retrying();
}

void NotificationIcon::Impl::show_in_xembed_tray() {
  if (xembed) return xembed->set_visible(true);
  switch (posix::xembed_chance(posix::current_display_session())) {
    case posix::XembedChance::never: return;
    case posix::XembedChance::once_a_tray_is_seen:
      if (!xwayland_tray_seen) return look_for_xwayland_trays();
      break;
    case posix::XembedChance::now: break;
  }
  xembed = posix::XembedIcon::create(menu, picture, item_tooltip(tooltip), picks, [this] { reconcile(); });
  xembed_why_not = xembed ? "no XEmbed system tray docked it" : "GTK cannot be loaded for an XEmbed icon";
}

void NotificationIcon::Impl::look_for_xwayland_trays() {
  xembed_why_not = "no XEmbed system tray in this session";
  if (xwayland_trays) return;
  xwayland_trays = posix::XwaylandTrays::watch(
      [this] {
        // From now on GTK's icon follows the trays that come and go itself.
        xwayland_tray_seen = true;
        xwayland_trays.reset();
        if (!host_draws_items()) show_in_xembed_tray();
        reconcile();
      },
      timing.look_again_after);
}

void NotificationIcon::Impl::start_retrying() {
  // The time runs from the first refusal, not from each one while the timer runs.
  if (retry_timer || !retry.begin(Clock::now())) return;
  // Every interval while retry_add says to go on; never once the timer is let go.
  retry_timer = posix::on_main_context(g_timeout_source_new(static_cast<guint>(timing.retry_interval.count())),
                                       [](gpointer data) { return static_cast<Impl*>(data)->retry_add(); }, this);
}

gboolean NotificationIcon::Impl::retry_add() {
  // The XEmbed icon waits one retry: a panel that restarts, or one that starts just
  // after the tray at login, brings its host back within moments, and the fallback
  // would load GTK into the tray for the rest of its life.
  if (!host_draws_items()) show_in_xembed_tray();
  if (stop_retrying_once_added()) return G_SOURCE_REMOVE;
  const auto now = Clock::now();
  if (retry.time_to_tell_user(now)) {
    const std::string text(kNoNotificationAreaText);
    std::fprintf(stderr, "tallowmered: %s\n", text.c_str());
    posix::send_desktop_notification(bus, text);
  }
  const std::string why_not = (watcher ? watcher->why_not() : "there is no session bus") + "; " + xembed_why_not;
  // Once the user knows, the timer has nothing left to do: a watcher or an XEmbed tray
  // that comes later announces itself (under XWayland to the trays' watch), and an idle
  // tray does not wake for nothing.
  if (retry.refused(now, why_not) && !retry.told_user()) return G_SOURCE_CONTINUE;
  retry_timer.reset();
  return G_SOURCE_REMOVE;
}

void NotificationIcon::Impl::remove() {
  if (removed()) return;
  retry.remove();
  retry_timer.reset();
  watcher.reset();
  if (item) {
    // Hosts hide a passive item at once; it leaves them with the tray's connection.
    item->set_status("Passive");
    item.reset();
  }
  own_popup.reset();
  dbus_menu.reset();
  xwayland_trays.reset();
  xembed.reset();
  if (bus) g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}

// Each part is passed on only when it changed: hosts re-read what they are told of, and
// lxqt-panel closes an open menu when the icon changes.
Result<void> NotificationIcon::Impl::set_menu(Menu items) {
  if (items == menu) return {};
  menu = std::move(items);
  if (dbus_menu) dbus_menu->set(menu);
  if (xembed) xembed->set_menu(menu);
  return {};
}

Result<void> NotificationIcon::Impl::set_picture(IconPicture new_picture) {
  if (auto checked = check_icon_picture(new_picture); !checked) return checked;
  if (new_picture == picture) return {};
  picture = std::move(new_picture);
  if (item) item->set_icon(item_icon_name(), picture.images);
  if (xembed) xembed->set_picture(picture);
  return {};
}

Result<void> NotificationIcon::Impl::set_tooltip(std::string_view text) {
  if (text == tooltip) return {};
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
std::optional<Error> NotificationIcon::add_failure() const { return impl_->retry.failure(); }
std::optional<std::string> NotificationIcon::next_picked_command() { return impl_->picks.take_oldest(); }
std::optional<bool> NotificationIcon::panel_light() const {
  return impl_->xembed && impl_->xembed->is_shown_in_tray() ? impl_->xembed->panel_light() : std::nullopt;
}

const Menu& NotificationIconAccess::menu(const NotificationIcon& icon) { return icon.impl_->menu; }
const std::string& NotificationIconAccess::tooltip(const NotificationIcon& icon) { return icon.impl_->tooltip; }
bool NotificationIconAccess::is_added(const NotificationIcon& icon) {
  return !icon.impl_->removed() && icon.impl_->is_added();
}
void NotificationIconAccess::remove(NotificationIcon& icon) { icon.impl_->remove(); }

}  // namespace tallow::platform
