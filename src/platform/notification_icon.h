#pragma once
// The notification-area icon: one icon with its image, tooltip and popup menu, and the
// process-wide queue of the menu items the user picked.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace tallow::platform {

// One row of the icon's menu.
struct NotificationMenuItem {
  enum class Kind { text, check, separator };

  Kind kind = Kind::separator;
  std::string text;                    // UTF-8, shown exactly as given ("&" is no mnemonic)
  bool enabled = false;
  bool checked = false;                // check items only
  std::optional<std::string> command;  // queued when picked; an item without one queues nothing

  bool operator==(const NotificationMenuItem&) const = default;
};

using NotificationMenu = std::vector<NotificationMenuItem>;

// Icon pixels: `width` × `height`, 4 bytes each in the order red, green, blue, alpha
// (straight, not premultiplied), row-major, top row first. The bytes are only borrowed.
struct RgbaPixels {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::span<const std::uint8_t> bytes;
};

// Fails unless both sides are at least 1 and `bytes` holds exactly width × height × 4 bytes.
Result<void> check_rgba_pixels(const RgbaPixels& pixels);

// How long the icon keeps trying to reach the notification area. At logon the shell may
// not accept icons yet, so a refused add is retried every `retry_interval` and whenever
// the taskbar announces itself; an icon never shown after `give_up_after` has failed.
struct NotificationIconTiming {
  std::chrono::milliseconds retry_interval{2000};
  std::chrono::milliseconds give_up_after{60000};
};

// One icon in the notification area, owned by the thread that created it: every call,
// and the message dispatch that delivers its clicks, happens on that thread.
// A left or right click (or the keyboard) opens the menu; a picked item's command goes
// onto the queue below. The menu runs its own loop inside dispatch_window_messages
// (platform/message_loop.h), which returns once the menu has closed. The icon is added
// again when the taskbar is re-created.
class NotificationIcon {
 public:
  // Makes the icon and asks the notification area to add it. Fails only when the icon
  // cannot exist at all (bad pixels, no window); a shell that refuses the add is
  // retried as `timing` says, and the outcome shows in is_added() and add_failure().
  static Result<NotificationIcon> create(NotificationMenu menu, const RgbaPixels& image,
                                         std::string_view tooltip,
                                         NotificationIconTiming timing = {});

  // A moved-from icon may only be assigned to or destroyed.
  NotificationIcon(NotificationIcon&&) noexcept;
  NotificationIcon& operator=(NotificationIcon&&) noexcept;
  NotificationIcon(const NotificationIcon&) = delete;
  NotificationIcon& operator=(const NotificationIcon&) = delete;
  ~NotificationIcon();  // removes the icon

  // Replaces the whole menu; on failure the old one stays. A menu open at the time stays
  // as the user sees it until it closes, and a pick from it queues that menu's command.
  Result<void> set_menu(NotificationMenu menu);

  // Replaces the image; on failure the old one stays.
  Result<void> set_image(const RgbaPixels& image);

  // Replaces the tooltip; the notification area shows at most its first 127 UTF-16 units,
  // cut between characters.
  Result<void> set_tooltip(std::string_view tooltip);

  // Takes the icon out of the notification area for good; the destructor does it too.
  void remove();

  // True while the notification area holds the icon.
  bool is_added() const;

  // Set once the icon has never been shown and every add was refused for the whole
  // `give_up_after`: the error of the last attempt. The icon stops trying then.
  std::optional<Error> add_failure() const;

  const NotificationMenu& menu() const;
  const std::string& tooltip() const;

 private:
  struct Impl;
  friend struct NotificationIconAccess;  // the platform side's own view, for its tests
  explicit NotificationIcon(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
};

// The process-wide queue of picked menu items, as their command identifiers.
// Safe from any thread.
void queue_picked_command(std::string command);

// Every queued command, oldest first; the queue is empty afterwards.
std::vector<std::string> take_picked_commands();

}  // namespace tallow::platform
