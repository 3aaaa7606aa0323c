#pragma once
// The notification-area icon: one icon with its image, tooltip and popup menu, and the
// commands of the menu rows the user picked from it.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/icon_image.h"
#include "platform/menu.h"

namespace tallow::platform {

// The sizes, in pixels, at which this platform's notification areas take an icon's
// picture, smallest first: the sizes the tray paints.
std::span<const std::uint32_t> notification_icon_sizes();

// What the user is told, once, when there has been no notification area for a while.
inline constexpr std::string_view kNoNotificationAreaText =
    "There is no notification area to show the tallowmered icon in. The agent keeps running, and the "
    "icon appears as soon as a notification area starts.";

// How long the icon keeps trying to reach the notification area. At logon the shell may
// not accept icons yet, so a refused add is retried every `retry_interval` and whenever
// the taskbar announces itself; an icon never shown after `give_up_after` has failed.
// Where the platform waits for a notification area instead (IconAddRetry::Patience), the
// user is told once after `tell_user_after` without one.
// Where a notification area has to be looked for rather than announcing itself (an X
// display that did not answer yet), it is looked for again every `look_again_after`.
struct NotificationIconTiming {
  std::chrono::milliseconds retry_interval{2000};
  std::chrono::milliseconds give_up_after{60000};
  std::chrono::milliseconds tell_user_after{10000};
  std::chrono::milliseconds look_again_after{60000};
};

// Where an icon stands with the notification area, and the rule every platform follows
// to get it there: after a refused add the platform tries again on its retry timer and
// whenever a new notification area appears, each new beginning granting `give_up_after`
// afresh. An icon never shown by the end of that time has failed for good; one shown
// before waits quietly for the next notification area. A platform whose notification
// areas come and go with the user's session waits for ever instead, and tells the user
// once when there has been none for `tell_user_after`.
class IconAddRetry {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Stage {
    adding,   // refused so far; the platform retries on its timer
    added,    // the notification area holds the icon
    waiting,  // refused for the whole time; only a new notification area tries again
    removed,  // taken away by its owner, for good
  };
  enum class Patience { give_up, wait_and_tell };

  explicit IconAddRetry(NotificationIconTiming timing, Patience patience = Patience::give_up)
      : timing_(timing), patience_(patience) {}

  // An add begins: at creation, or because a notification area appeared. False when
  // nothing may be tried any more (removed, or failed for good).
  bool begin(Clock::time_point now);
  // The notification area took the icon.
  void added();
  // The add tried at `now` was refused because of `reason` (may be empty). True while the
  // platform should go on retrying; once the time is up the stage is `waiting`, and for
  // an icon never shown, failure() says for how long and why.
  bool refused(Clock::time_point now, std::string_view reason);
  void remove() { stage_ = Stage::removed; }
  // True once in the icon's life, for a patient platform: the first time at `now` the
  // icon has been without a notification area for `tell_user_after`.
  bool time_to_tell_user(Clock::time_point now);
  bool told_user() const { return told_user_; }

  Stage stage() const { return stage_; }
  const std::optional<Error>& failure() const { return failure_; }

 private:
  NotificationIconTiming timing_;
  Patience patience_;
  Stage stage_ = Stage::adding;
  bool ever_added_ = false;
  bool told_user_ = false;
  Clock::time_point since_{};
  std::optional<Error> failure_;
};

// One icon in the notification area, owned by the thread that created it: every call,
// and the message dispatch that delivers its clicks, happens on that thread.
// A left or right click (or the keyboard) opens the menu; a picked item's command is kept
// for next_picked_command(). The menu runs its own loop inside dispatch_pending_events
// (platform/main_loop.h), which returns once the menu has closed. The icon is added
// again when the taskbar is re-created.
class NotificationIcon {
 public:
  // Makes the icon and asks the notification area to add it. Fails only when the icon
  // cannot exist at all (bad pixels, no window); a shell that refuses the add is
  // retried as `timing` says, and a failure for good shows in add_failure().
  static Result<NotificationIcon> create(Menu menu, IconPicture picture, std::string_view tooltip,
                                         NotificationIconTiming timing = {});

  // A moved-from icon may only be assigned to or destroyed.
  NotificationIcon(NotificationIcon&&) noexcept;
  NotificationIcon& operator=(NotificationIcon&&) noexcept;
  NotificationIcon(const NotificationIcon&) = delete;
  NotificationIcon& operator=(const NotificationIcon&) = delete;
  ~NotificationIcon();  // takes the icon out of the notification area

  // Replaces the whole menu; on failure the old one stays. A menu open at the time stays
  // as the user sees it until it closes, and a pick from it queues that menu's command.
  Result<void> set_menu(Menu menu);

  // Replaces the picture; on failure the old one stays. Windows shows the first image;
  // Linux names the themed icon and offers every image.
  Result<void> set_picture(IconPicture picture);

  // Replaces the tooltip; the notification area shows at most its first 127 UTF-16 units,
  // cut between characters.
  Result<void> set_tooltip(std::string_view tooltip);

  // Set once the icon has never been shown and every add was refused for the whole
  // `give_up_after`: the error of the last attempt. The icon stops trying then.
  std::optional<Error> add_failure() const;

  // The oldest command picked from the icon's menu and not taken yet.
  std::optional<std::string> next_picked_command();

  // Whether the panel the icon sits in is light, where the icon has seen it (an XEmbed
  // tray on Linux, which draws icons as given); none elsewhere. It comes before the
  // desktop's own look.
  std::optional<bool> panel_light() const;

 private:
  struct Impl;
  friend struct NotificationIconAccess;  // for tests
  explicit NotificationIcon(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
};

}  // namespace tallow::platform
