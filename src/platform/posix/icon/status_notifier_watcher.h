#pragma once
// The item's link with the StatusNotifierWatcher, the panel's registry of items: which
// watcher runs, whether a host that draws items has registered with it, and the item
// offered to it, again whenever it forgets the item.

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/glib_ptr.h"

namespace tallow::platform::posix {

// How soon a watcher that refused or dropped the item is offered it again: after a
// second, then twice as long each time (a host that keeps dropping the item is not
// answered once a second for ever, each time re-reading every property and pixmap), up
// to a minute; a registration that held for a minute starts the count afresh.
class RegistrationPace {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kFirstPause{1};
  static constexpr std::chrono::seconds kLongestPause{60};
  static constexpr std::chrono::seconds kHeldLongEnough{60};

  // The watcher took the item at `now`.
  void registered(Clock::time_point now) { registered_at_ = now; }
  // It refused or dropped the item at `now`: the pause before offering it again.
  std::chrono::seconds lost(Clock::time_point now);

 private:
  std::optional<Clock::time_point> registered_at_;
  std::chrono::seconds pause_{0};
};

// Whether the watcher's word about an unregistered item names the item served under
// `bus_name`: watchers give the name alone, or with the object path after "/" (or "@",
// GNOME's).
bool names_item(std::string_view unregistered, std::string_view bus_name);

class WatcherLink {
 public:
  enum class State {
    no_watcher,  // no StatusNotifierWatcher runs on the bus
    asking,      // one appeared; it is asked whether a host has registered with it
    no_host,     // it has no host that draws items
    offering,    // the item is offered to it; its answer is due
    lost,        // it refused or dropped the item, which is offered again after a pause
    registered,  // it holds the item, and a host draws it
  };

  // Follows the watcher on `bus` for the item served there under `item_bus_name`.
  // `on_change` runs on the main context after each change of state.
  WatcherLink(GDBusConnection* bus, std::string item_bus_name, std::function<void()> on_change);
  ~WatcherLink();
  WatcherLink(const WatcherLink&) = delete;
  WatcherLink& operator=(const WatcherLink&) = delete;

  State state() const { return state_; }
  // Why the item is not registered now, in words for a failure message.
  const std::string& why_not() const { return why_not_; }

 private:
  using Answer = void (*)(WatcherLink& self, GVariant* reply, const GError* error);
  void call(const char* interface, const char* method, GVariant* parameters, const GVariantType* reply_type,
            Answer answered);
  void appeared();
  void on_signal(std::string_view signal, GVariant* parameters);
  void ask_for_host();
  void offer();
  void lose(std::string why);
  void become(State state, std::string why_not = {});

  GDBusConnection* bus_;
  std::string item_bus_name_;
  std::function<void()> on_change_;
  State state_ = State::no_watcher;
  std::string why_not_ = "no notification area has appeared";
  RegistrationPace pace_;
  // Every call to a watcher is cancelled with it: an answer from a watcher since
  // replaced belongs to that one.
  GObjectPtr<GCancellable> calls_{g_cancellable_new()};
  GSourcePtr offer_again_;
  guint name_watch_ = 0;
  guint signals_ = 0;
};

}  // namespace tallow::platform::posix
