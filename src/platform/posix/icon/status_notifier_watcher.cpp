#include "platform/posix/icon/status_notifier_watcher.h"

#include <algorithm>
#include <memory>

namespace tallow::platform::posix {
namespace {

constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";

}  // namespace

std::chrono::seconds RegistrationPace::lost(Clock::time_point now) {
  if (registered_at_ && now - *registered_at_ >= kHeldLongEnough) {
    pause_ = kFirstPause;
  } else {
    pause_ = pause_ == std::chrono::seconds(0) ? kFirstPause : std::min(2 * pause_, kLongestPause);
  }
  registered_at_.reset();
  return pause_;
}

bool names_item(std::string_view unregistered, std::string_view bus_name) {
  if (!unregistered.starts_with(bus_name)) return false;
  return unregistered.size() == bus_name.size() || unregistered[bus_name.size()] == '/' ||
         unregistered[bus_name.size()] == '@';
}

WatcherLink::WatcherLink(GDBusConnection* bus, std::string item_bus_name, std::function<void()> on_change)
    : bus_(bus), item_bus_name_(std::move(item_bus_name)), on_change_(std::move(on_change)) {
  // Subscribed by the watcher's well-known name: the subscription follows each new owner.
  signals_ = g_dbus_connection_signal_subscribe(
      bus_, kWatcherName, kWatcherName, nullptr, kWatcherPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal, GVariant* parameters,
         gpointer self) { static_cast<WatcherLink*>(self)->on_signal(signal, parameters); },
      this, nullptr);
  // Called at once with the watcher's presence, then on every change of its owner: a
  // new owner is a new watcher that knows nothing of the item.
  name_watch_ = g_bus_watch_name_on_connection(
      bus_, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, gpointer self) { static_cast<WatcherLink*>(self)->appeared(); },
      [](GDBusConnection*, const gchar*, gpointer data) {
        auto* self = static_cast<WatcherLink*>(data);
        g_cancellable_cancel(self->calls_.get());
        self->offer_again_.reset();
        self->become(State::no_watcher, "no StatusNotifierWatcher runs on the session bus");
      },
      this, nullptr);
}

WatcherLink::~WatcherLink() {
  g_cancellable_cancel(calls_.get());
  if (name_watch_ != 0) g_bus_unwatch_name(name_watch_);
  if (signals_ != 0) g_dbus_connection_signal_unsubscribe(bus_, signals_);
}

void WatcherLink::appeared() {
  g_cancellable_cancel(calls_.get());
  calls_.reset(g_cancellable_new());
  offer_again_.reset();
  become(State::asking);
  ask_for_host();
}

void WatcherLink::on_signal(std::string_view signal, GVariant* parameters) {
  if (state_ == State::no_watcher) return;
  if (signal == "StatusNotifierHostRegistered") {
    if (state_ == State::asking || state_ == State::no_host) offer();
  } else if (signal == "StatusNotifierHostUnregistered") {
    // Another host may still be there; only the watcher knows.
    ask_for_host();
  } else if (signal == "StatusNotifierItemUnregistered" && state_ == State::registered &&
             g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) {
    const gchar* unregistered = nullptr;
    g_variant_get(parameters, "(&s)", &unregistered);
    // A host that dropped the item (one that read it too early) gets it again.
    if (names_item(unregistered, item_bus_name_)) lose("the StatusNotifierWatcher dropped the item");
  }
}

void WatcherLink::call(const char* interface, const char* method, GVariant* parameters,
                       const GVariantType* reply_type, Answer answered) {
  struct Call {
    WatcherLink* self;
    Answer answered;
  };
  g_dbus_connection_call(
      bus_, kWatcherName, kWatcherPath, interface, method, parameters, reply_type, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1,
      calls_.get(),
      [](GObject* source, GAsyncResult* result, gpointer data) {
        const std::unique_ptr<Call> call(static_cast<Call*>(data));
        GError* raw_error = nullptr;
        const GVariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw_error));
        const GErrorPtr error(raw_error);
        // Cancelled: the link is gone, or the watcher it asked was replaced.
        if (error && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
        call->answered(*call->self, reply.get(), error.get());
      },
      new Call{this, answered});
}

void WatcherLink::ask_for_host() {
  call("org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", kWatcherName, "IsStatusNotifierHostRegistered"),
       G_VARIANT_TYPE("(v)"), [](WatcherLink& self, GVariant* reply, const GError*) {
         // A watcher that cannot say is taken at its word that hosts come to it.
         bool host = true;
         if (reply) {
           GVariant* raw_value = nullptr;
           g_variant_get(reply, "(v)", &raw_value);
           const GVariantPtr value(raw_value);
           host = g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value.get());
         }
         if (!host) {
           self.offer_again_.reset();
           self.become(State::no_host, "the StatusNotifierWatcher has no host that shows items");
         } else if (self.state_ == State::asking || self.state_ == State::no_host) {
           self.offer();
         }
       });
}

void WatcherLink::offer() {
  become(State::offering);
  call(kWatcherName, "RegisterStatusNotifierItem", g_variant_new("(s)", item_bus_name_.c_str()), nullptr,
       [](WatcherLink& self, GVariant* reply, const GError* error) {
         if (!reply) return self.lose(std::string("the StatusNotifierWatcher refused the item: ") + error_text(error));
         self.pace_.registered(RegistrationPace::Clock::now());
         self.become(State::registered);
       });
}

void WatcherLink::lose(std::string why) {
  offer_again_ = main_context_once(pace_.lost(RegistrationPace::Clock::now()), [this] {
    if (state_ == State::lost) offer();
  });
  become(State::lost, std::move(why));
}

void WatcherLink::become(State state, std::string why_not) {
  state_ = state;
  if (!why_not.empty()) why_not_ = std::move(why_not);
  on_change_();
}

}  // namespace tallow::platform::posix
