#pragma once
// Driving a notification icon from a test the way the shell and the user do: finding the
// icon's window, clicking it, reading the menu it opens and picking from that menu.
//
// What reaches another process: finding windows, clicking, picking and closing (they
// only post messages). Reading the items works only inside the menu's own process:
// Wine 8 keeps menus per process, so another process gets a handle from MN_GETHMENU
// that no menu function accepts. From another thread of the same process it works.

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tallow::test::win32 {

using namespace std::chrono_literals;

// The hidden window of a notification icon of process `process_id` (0: of any process).
HWND find_notification_icon_window(DWORD process_id);
HWND wait_for_notification_icon_window(DWORD process_id, std::chrono::milliseconds limit = 20s);

// Asks the shell itself whether it holds the icon of `icon_window` (a change of nothing
// succeeds only for an icon it has), or makes it forget the icon, as a restarted
// Explorer does. Both work across processes.
bool shell_holds_icon(HWND icon_window);
void shell_forgets_icon(HWND icon_window);

enum class MouseButton { left, right };

// Posts one notice about the icon to its window, as the shell of version 4 words it:
// `event` (a mouse message, NIN_SELECT, WM_CONTEXTMENU...) at `at` (screen coordinates).
void post_icon_notice(HWND icon_window, UINT event, POINT at = {200, 200});

// Posts to the icon's window what the shell sends for a click at `at` (screen
// coordinates): the button going down, coming up, then the notice of version 4
// (NIN_SELECT for the left button, WM_CONTEXTMENU for the right), all in one go.
void click_notification_icon(HWND icon_window, MouseButton button, POINT at = {200, 200});

// The popup menu window that a thread of `process_id` shows now, or null.
HWND find_open_menu(DWORD process_id);
HWND wait_for_open_menu(DWORD process_id, std::chrono::milliseconds limit = 20s);
bool wait_for_menu_closed(HWND popup, std::chrono::milliseconds limit = 20s);

struct ShownMenuItem {
  std::string label;  // as the menu holds it, UTF-8 ("&&" is how a menu shows one "&")
  bool separator = false;
  bool grayed = false;
  bool checked = false;
  bool operator==(const ShownMenuItem&) const = default;
};

ShownMenuItem shown_separator();
ShownMenuItem shown_item(std::string label, bool grayed = false, bool checked = false);

// The items of the menu shown in `popup`; none when it cannot be read from here.
std::optional<std::vector<ShownMenuItem>> read_open_menu(HWND popup);

// The menu handle behind `popup` (MN_GETHMENU).
HMENU open_menu_handle(HWND popup);

// How many presses of the Down key lead from a fresh menu to the item at `position`:
// the arrows pass over separators and stop on every other item, disabled ones included.
std::size_t down_presses_to(const std::vector<bool>& is_separator, std::size_t position);

// Picks with the keyboard: Down `presses` times, then Return. Works across processes.
void pick_with_keyboard(HWND popup, std::size_t presses);

// Picks the item at `position` (separators counted) of a menu this process can read,
// checking that the keyboard reached it; false when the menu cannot be read or the
// highlight never got there (the menu is closed then).
bool pick_open_menu_item(HWND popup, std::size_t position);

// Closes the menu without a pick (Escape).
void close_open_menu(HWND popup);

// Runs a test's steps on another thread while the calling thread dispatches window
// messages, which is where a notification icon's menu runs its own loop. Steps that
// must happen on the dispatching thread (the icon's owner) go through run_on_owner.
class OwnerThreadPump {
 public:
  OwnerThreadPump();
  ~OwnerThreadPump();
  OwnerThreadPump(const OwnerThreadPump&) = delete;
  OwnerThreadPump& operator=(const OwnerThreadPump&) = delete;

  // Dispatches messages on this thread until `steps`, run on a new thread, returns.
  void drive(const std::function<void()>& steps);

  // From the steps: runs `task` on the dispatching thread, also while a menu's own loop
  // is running there, and returns when it is done; false when it did not run in time.
  // As messages are handled in order, every message posted before has been handled too.
  bool run_on_owner(std::function<void()> task, std::chrono::milliseconds limit = 20s);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace tallow::test::win32
