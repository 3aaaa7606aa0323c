// The notification icon under a real shell (Wine's): clicks open the menu, picks reach
// the queue, menus and images are replaced and released, and the icon finds its way
// back into the notification area after a refused add or a re-created taskbar.

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/message_loop.h"
#include "platform/notification_icon.h"
#include "platform/notification_text.h"
#include "platform/os_error.h"
#include "platform/win32/notification_icon_win32.h"
#include "platform/win32/scoped_gui_object.h"
#include "support/test_support.h"
#include "support/win32/notification_icon_driver.h"

namespace tallow::test::win32 {

void PrintTo(const ShownMenuItem& item, std::ostream* out) {
  if (item.separator) {
    *out << "----";
    return;
  }
  *out << '"' << item.label << '"' << (item.grayed ? " grayed" : "") << (item.checked ? " checked" : "");
}

namespace {

using platform::NotificationIcon;
using platform::NotificationIconAccess;
using platform::NotificationIconTiming;
using platform::NotificationMenu;
using platform::NotificationMenuItem;
using platform::RgbaPixels;
using platform::take_picked_commands;
using Kind = NotificationMenuItem::Kind;
using Commands = std::vector<std::string>;

NotificationMenuItem item(std::string text, std::optional<std::string> command, bool enabled = true) {
  return {Kind::text, std::move(text), enabled, false, std::move(command)};
}
NotificationMenuItem check(std::string text, bool checked, std::string command) {
  return {Kind::check, std::move(text), true, checked, std::move(command)};
}
NotificationMenuItem separator() { return {}; }

const NotificationMenu kMenu = {item("Running", std::nullopt, false), separator(),
                                item("Stop & go", "stop"), check("Launch at Login", true, "login"),
                                separator(), item("Quit", "quit")};
const std::vector<ShownMenuItem> kShownMenu = {
    shown_item("Running", true), shown_separator(), shown_item("Stop && go"),
    shown_item("Launch at Login", false, true), shown_separator(), shown_item("Quit")};

const std::vector<std::uint8_t> kPixels(2 * 2 * 4, 0xFF);
const RgbaPixels kImage{2, 2, kPixels};

const DWORD kSelf = GetCurrentProcessId();

UINT taskbar_created() { return RegisterWindowMessageW(L"TaskbarCreated"); }

// Asks the shell itself, past any stand-in, whether it holds the icon of `window`.
bool shell_holds_icon(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = platform::win32::kNotificationIconId;
  return Shell_NotifyIconW(NIM_MODIFY, &data);
}

// The shell forgets the icon, as when Explorer restarts.
void shell_forgets_icon(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = platform::win32::kNotificationIconId;
  Shell_NotifyIconW(NIM_DELETE, &data);
}

// Dispatches this thread's messages until `condition` holds.
bool pump_until(const std::function<bool()>& condition) {
  return wait_until([&] {
    (void)platform::dispatch_window_messages();
    return condition();
  });
}

// A stand-in between the icon and the shell: records every call, refuses what it is
// told to, and passes the rest on to the real Shell_NotifyIconW.
struct ShellRecorder {
  std::vector<DWORD> calls;
  std::vector<NOTIFYICONDATAW> data;
  int adds_to_refuse = 0;  // negative: every one
  bool refuse_version = false;
  bool add_then_refuse = false;  // the shell takes the first add but says it did not

  std::size_t count(DWORD message) const { return std::count(calls.begin(), calls.end(), message); }
  const NOTIFYICONDATAW& last(DWORD message) const {
    for (std::size_t i = calls.size(); i-- > 0;) {
      if (calls[i] == message) return data[i];
    }
    static const NOTIFYICONDATAW none{};
    return none;
  }
};

platform::win32::ShellNotify through(std::shared_ptr<ShellRecorder> recorder) {
  return [recorder](DWORD message, NOTIFYICONDATAW* data) -> BOOL {
    recorder->calls.push_back(message);
    recorder->data.push_back(*data);
    if (message == NIM_ADD && recorder->add_then_refuse) {
      recorder->add_then_refuse = false;
      Shell_NotifyIconW(message, data);
      return FALSE;
    }
    if (message == NIM_ADD && recorder->adds_to_refuse != 0) {
      if (recorder->adds_to_refuse > 0) --recorder->adds_to_refuse;
      SetLastError(ERROR_TIMEOUT);
      return FALSE;
    }
    if (message == NIM_SETVERSION && recorder->refuse_version) return FALSE;
    return Shell_NotifyIconW(message, data);
  };
}

NotificationIcon make_icon(std::shared_ptr<ShellRecorder> recorder, NotificationMenu menu = kMenu,
                           NotificationIconTiming timing = {}) {
  auto icon = NotificationIconAccess::create(std::move(menu), kImage, "tallowmered: Running", timing,
                                             through(std::move(recorder)));
  EXPECT_TRUE(icon.ok()) << icon.error().message;
  return std::move(icon.value());
}

// ---------------------------------------------------------------------------
// Clicks, the menu and the queue.

struct ClickCase {
  const char* name;
  MouseButton button;
  std::optional<std::size_t> position;  // none: closed with Escape
  Commands queued;
};

// Every click opens the menu once, shows it as built and queues what is picked; the
// notices of the other way of reporting clicks, alone, open nothing.
void click_and_pick(OwnerThreadPump& pump, HWND window, const std::vector<ClickCase>& cases,
                    const std::vector<UINT>& ignored_notices) {
  pump.drive([&] {
    for (const UINT notice : ignored_notices) {
      SCOPED_TRACE(notice);
      post_icon_notice(window, notice);
      ASSERT_TRUE(pump.run_on_owner([] {}));
      if (const HWND opened = find_open_menu(kSelf)) {
        ADD_FAILURE() << "the notice opened the menu";
        close_open_menu(opened);
        wait_for_menu_closed(opened);
      }
    }
    for (const ClickCase& c : cases) {
      SCOPED_TRACE(c.name);
      click_notification_icon(window, c.button);
      const HWND popup = wait_for_open_menu(kSelf);
      ASSERT_NE(popup, nullptr);
      EXPECT_EQ(read_open_menu(popup), kShownMenu);
      if (c.position) {
        EXPECT_TRUE(pick_open_menu_item(popup, *c.position));
      } else {
        close_open_menu(popup);
      }
      ASSERT_TRUE(wait_for_menu_closed(popup));
      // By the time this runs every message of the click has been handled; a notice
      // answered twice would have opened a second menu.
      std::vector<std::string> taken;
      ASSERT_TRUE(pump.run_on_owner([&] { taken = take_picked_commands(); }));
      EXPECT_EQ(taken, c.queued);
      if (const HWND again = find_open_menu(kSelf)) {
        ADD_FAILURE() << "the menu opened twice";
        close_open_menu(again);
        wait_for_menu_closed(again);
      }
    }
  });
}

const std::vector<ClickCase> kClicks = {
    {"left_click_picks_stop", MouseButton::left, 2, {"stop"}},
    {"right_click_picks_the_check_item", MouseButton::right, 3, {"login"}},
    {"right_click_picks_quit", MouseButton::right, 5, {"quit"}},
    {"escape_picks_nothing", MouseButton::left, std::nullopt, {}},
};

TEST(Win32NotificationIcon, ClicksOpenTheMenuAndPicksReachTheQueue) {
  (void)take_picked_commands();
  auto recorder = std::make_shared<ShellRecorder>();
  NotificationIcon icon = make_icon(recorder);
  const HWND window = NotificationIconAccess::window(icon);
  EXPECT_TRUE(icon.is_added());
  EXPECT_EQ(icon.add_failure(), std::nullopt);
  EXPECT_TRUE(NotificationIconAccess::uses_version_4(icon));
  EXPECT_TRUE(shell_holds_icon(window));
  EXPECT_EQ(find_notification_icon_window(kSelf), window);
  // The first add carries everything: the callback, the icon and the tooltip.
  const NOTIFYICONDATAW& add = recorder->last(NIM_ADD);
  EXPECT_EQ(add.uFlags & (NIF_MESSAGE | NIF_ICON | NIF_TIP), UINT{NIF_MESSAGE | NIF_ICON | NIF_TIP});
  EXPECT_EQ(add.uCallbackMessage, platform::win32::kNotificationIconMessage);
  EXPECT_EQ(add.hIcon, NotificationIconAccess::icon(icon));
  EXPECT_EQ(std::wstring(add.szTip), L"tallowmered: Running");

  OwnerThreadPump pump;
  click_and_pick(pump, window, kClicks, {WM_LBUTTONUP, WM_RBUTTONUP});
  EXPECT_EQ(take_picked_commands(), Commands{});
}

TEST(Win32NotificationIcon, AShellWithoutVersion4OpensTheMenuOnButtonUp) {
  (void)take_picked_commands();
  auto recorder = std::make_shared<ShellRecorder>();
  recorder->refuse_version = true;
  NotificationIcon icon = make_icon(recorder);
  EXPECT_FALSE(NotificationIconAccess::uses_version_4(icon));
  OwnerThreadPump pump;
  click_and_pick(pump, NotificationIconAccess::window(icon), kClicks, {NIN_SELECT, WM_CONTEXTMENU});
}

TEST(Win32NotificationIcon, AMenuReplacedWhileOpenStaysUntilItCloses) {
  (void)take_picked_commands();
  const NotificationMenu stopped = {item("Stopped", std::nullopt, false), separator(),
                                    item("Start", "start"), item("Quit", "quit")};
  const NotificationMenu running = {item("Running", std::nullopt, false), separator(),
                                    item("Stop", "stop"), item("Restart", "restart"),
                                    item("Quit", "quit")};
  NotificationIcon icon = make_icon(std::make_shared<ShellRecorder>(), stopped);
  const HWND window = NotificationIconAccess::window(icon);

  OwnerThreadPump pump;
  pump.drive([&] {
    click_notification_icon(window, MouseButton::left);
    const HWND popup = wait_for_open_menu(kSelf);
    ASSERT_NE(popup, nullptr);
    const HMENU shown = open_menu_handle(popup);
    // Runs inside the open menu's own loop, as a refresh would.
    HMENU current = nullptr;
    ASSERT_TRUE(pump.run_on_owner([&] {
      EXPECT_TRUE(icon.set_menu(running).ok());
      current = NotificationIconAccess::menu(icon);
    }));
    EXPECT_NE(current, shown);
    EXPECT_TRUE(IsMenu(shown));
    EXPECT_EQ(read_open_menu(popup),
              (std::vector<ShownMenuItem>{shown_item("Stopped", true), shown_separator(),
                                          shown_item("Start"), shown_item("Quit")}));
    // Position 2 is "Start" in what the user sees and "Stop" in the new menu.
    EXPECT_TRUE(pick_open_menu_item(popup, 2));
    ASSERT_TRUE(wait_for_menu_closed(popup));
    ASSERT_TRUE(pump.run_on_owner([] {}));
    EXPECT_FALSE(IsMenu(shown)) << "the replaced menu is released once closed";

    click_notification_icon(window, MouseButton::right);
    const HWND next = wait_for_open_menu(kSelf);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(read_open_menu(next),
              (std::vector<ShownMenuItem>{shown_item("Running", true), shown_separator(),
                                          shown_item("Stop"), shown_item("Restart"), shown_item("Quit")}));
    close_open_menu(next);
    EXPECT_TRUE(wait_for_menu_closed(next));
  });
  EXPECT_EQ(take_picked_commands(), Commands{"start"});
  EXPECT_EQ(icon.menu(), running);
}

// ---------------------------------------------------------------------------
// Reaching the notification area: the first add, a re-created taskbar, giving up.

TEST(Win32NotificationIcon, TaskbarCreatedAddsTheIconAgain) {
  auto recorder = std::make_shared<ShellRecorder>();
  NotificationIcon icon = make_icon(recorder);
  const HWND window = NotificationIconAccess::window(icon);
  ASSERT_EQ(recorder->count(NIM_ADD), 1u);

  shell_forgets_icon(window);
  ASSERT_FALSE(shell_holds_icon(window));
  // A broadcast reaches only top-level windows: this one must be among them.
  PostMessageW(HWND_BROADCAST, taskbar_created(), 0, 0);
  ASSERT_TRUE(pump_until([&] { return recorder->count(NIM_ADD) == 2; }));
  EXPECT_TRUE(shell_holds_icon(window));
  EXPECT_TRUE(icon.is_added());
  EXPECT_EQ(recorder->count(NIM_SETVERSION), 2u) << "the version is the shell's per-icon state";

  // The broadcast may come while the shell still holds the icon: the refused add then
  // becomes an update, and the icon stays.
  const std::size_t modifies = recorder->count(NIM_MODIFY);
  PostMessageW(window, taskbar_created(), 0, 0);
  ASSERT_TRUE(pump_until([&] { return recorder->count(NIM_ADD) == 3; }));
  EXPECT_EQ(recorder->count(NIM_MODIFY), modifies + 1);
  EXPECT_TRUE(icon.is_added());
  EXPECT_TRUE(shell_holds_icon(window));
}

TEST(Win32NotificationIcon, ARefusedFirstAddIsRetriedWithTheLatestValues) {
  auto recorder = std::make_shared<ShellRecorder>();
  recorder->adds_to_refuse = 3;
  NotificationIcon icon = make_icon(recorder, kMenu, {std::chrono::milliseconds(10), std::chrono::seconds(60)});
  const HWND window = NotificationIconAccess::window(icon);
  EXPECT_FALSE(icon.is_added());
  EXPECT_EQ(icon.add_failure(), std::nullopt);
  EXPECT_FALSE(shell_holds_icon(window));
  // Changes before the add are kept, not sent.
  EXPECT_TRUE(icon.set_tooltip("tallowmered: Starting\u2026").ok());
  EXPECT_TRUE(icon.set_image(kImage).ok());

  ASSERT_TRUE(pump_until([&] { return icon.is_added(); }));
  // Each refused add asks whether the shell holds the icon already.
  EXPECT_EQ(recorder->calls, (std::vector<DWORD>{NIM_ADD, NIM_MODIFY, NIM_ADD, NIM_MODIFY, NIM_ADD, NIM_MODIFY,
                                                 NIM_ADD, NIM_SETVERSION}));
  EXPECT_EQ(std::wstring(recorder->last(NIM_ADD).szTip), L"tallowmered: Starting\u2026");
  EXPECT_EQ(recorder->last(NIM_ADD).hIcon, NotificationIconAccess::icon(icon));
  EXPECT_TRUE(shell_holds_icon(window));
  EXPECT_EQ(icon.add_failure(), std::nullopt);
}

TEST(Win32NotificationIcon, AnIconTheShellStillHoldsUnderThisWindowIsTakenOver) {
  auto recorder = std::make_shared<ShellRecorder>();
  recorder->add_then_refuse = true;
  NotificationIcon icon = make_icon(recorder, kMenu, {std::chrono::hours(1), std::chrono::hours(2)});
  EXPECT_TRUE(icon.is_added()) << "no retry needed";
  EXPECT_EQ(recorder->calls, (std::vector<DWORD>{NIM_ADD, NIM_MODIFY, NIM_SETVERSION}));
  EXPECT_EQ(std::wstring(recorder->last(NIM_MODIFY).szTip), L"tallowmered: Running");
  EXPECT_TRUE(shell_holds_icon(NotificationIconAccess::window(icon)));
}

TEST(Win32NotificationIcon, TaskbarCreatedRetriesAWaitingAddAtOnce) {
  auto recorder = std::make_shared<ShellRecorder>();
  recorder->adds_to_refuse = 1;
  NotificationIcon icon = make_icon(recorder, kMenu, {std::chrono::hours(1), std::chrono::hours(2)});
  EXPECT_FALSE(icon.is_added());
  PostMessageW(NotificationIconAccess::window(icon), taskbar_created(), 0, 0);
  ASSERT_TRUE(pump_until([&] { return icon.is_added(); }));
  EXPECT_EQ(recorder->count(NIM_ADD), 2u);
}

TEST(Win32NotificationIcon, AnIconNeverShownFailsAfterTheLimit) {
  auto recorder = std::make_shared<ShellRecorder>();
  recorder->adds_to_refuse = -1;
  NotificationIcon icon = make_icon(recorder, kMenu, {std::chrono::milliseconds(10), std::chrono::milliseconds(100)});
  ASSERT_TRUE(pump_until([&] { return icon.add_failure().has_value(); }));
  const std::string message = icon.add_failure()->message;
  EXPECT_EQ(message.rfind("the notification area refused it for ", 0), 0u) << message;
  const std::string reason = ": " + platform::os_error_text(ERROR_TIMEOUT);
  EXPECT_EQ(message.substr(message.size() - std::min(message.size(), reason.size())), reason) << message;
  EXPECT_GE(recorder->count(NIM_ADD), 2u);
  EXPECT_FALSE(icon.is_added());

  // Failed is final: a later broadcast tries nothing.
  const std::size_t adds = recorder->count(NIM_ADD);
  PostMessageW(NotificationIconAccess::window(icon), taskbar_created(), 0, 0);
  (void)platform::dispatch_window_messages();
  EXPECT_EQ(recorder->count(NIM_ADD), adds);
}

TEST(Win32NotificationIcon, AnIconOnceShownWaitsForTheNextTaskbarInstead) {
  auto recorder = std::make_shared<ShellRecorder>();
  NotificationIcon icon = make_icon(recorder, kMenu, {std::chrono::milliseconds(10), std::chrono::milliseconds(100)});
  const HWND window = NotificationIconAccess::window(icon);
  ASSERT_TRUE(icon.is_added());

  // The shell comes back but refuses the icon for longer than the limit.
  shell_forgets_icon(window);
  recorder->adds_to_refuse = -1;
  PostMessageW(window, taskbar_created(), 0, 0);
  const std::size_t adds_before = recorder->count(NIM_ADD);
  ASSERT_TRUE(pump_until([&] { return recorder->count(NIM_ADD) >= adds_before + 3; }));
  // Once the limit has passed it stops trying.
  ASSERT_TRUE(pump_until([&] { return !NotificationIconAccess::retrying(icon); }));
  EXPECT_FALSE(icon.is_added());
  EXPECT_EQ(icon.add_failure(), std::nullopt) << "only an icon never shown has failed";

  // The next taskbar takes it.
  recorder->adds_to_refuse = 0;
  PostMessageW(window, taskbar_created(), 0, 0);
  ASSERT_TRUE(pump_until([&] { return icon.is_added(); }));
  EXPECT_TRUE(shell_holds_icon(window));
}

// ---------------------------------------------------------------------------
// Image, tooltip, removal.

// The colour and mask bitmaps behind an icon, as 32-bit top-down pixels and mask rows.
struct IconBits {
  std::vector<std::uint8_t> colour;
  std::vector<std::uint8_t> mask;
};

std::optional<IconBits> read_icon(HICON icon, int width, int height) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return std::nullopt;
  const platform::win32::ScopedBitmap colour(info.hbmColor);
  const platform::win32::ScopedBitmap mask(info.hbmMask);
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof(format.bmiHeader);
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = -height;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  IconBits bits;
  bits.colour.resize(static_cast<std::size_t>(width * height * 4));
  const HDC screen = GetDC(nullptr);
  const int rows = GetDIBits(screen, colour.get(), 0, static_cast<UINT>(height), bits.colour.data(), &format,
                             DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != height) return std::nullopt;
  bits.mask.resize(static_cast<std::size_t>((width + 15) / 16 * 2 * height));
  if (GetBitmapBits(mask.get(), static_cast<LONG>(bits.mask.size()), bits.mask.data()) == 0) return std::nullopt;
  return bits;
}

TEST(Win32NotificationIcon, ImagesBecomeIconsAndReplacedOnesAreReleased) {
  // 3×2: opaque red, half-transparent green, transparent blue / white, black, clear.
  const std::vector<std::uint8_t> rgba = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0,
                                          255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 0};
  auto made = NotificationIcon::create(kMenu, RgbaPixels{3, 2, rgba}, "t");
  ASSERT_TRUE(made.ok()) << made.error().message;
  NotificationIcon& icon = made.value();
  const HICON first = NotificationIconAccess::icon(icon);
  const auto bits = read_icon(first, 3, 2);
  ASSERT_TRUE(bits.has_value());
  EXPECT_EQ(bits->colour, (std::vector<std::uint8_t>{0, 0, 255, 255, 0, 255, 0, 128, 255, 0, 0, 0,
                                                     255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 0}));
  // Transparent pixels are set in the mask: the third of the top row, the third below.
  EXPECT_EQ(bits->mask, (std::vector<std::uint8_t>{0x20, 0, 0x20, 0}));

  EXPECT_TRUE(icon.set_image(kImage).ok());
  const HICON second = NotificationIconAccess::icon(icon);
  EXPECT_NE(second, first);
  ICONINFO info{};
  EXPECT_FALSE(GetIconInfo(first, &info)) << "the replaced icon is destroyed";
  EXPECT_TRUE(read_icon(second, 2, 2).has_value());

  const std::vector<std::uint8_t> short_of_one(15);
  const auto refused = icon.set_image(RgbaPixels{2, 2, short_of_one});
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "2\u00D72 RGBA pixels take 16 bytes, not 15");
  EXPECT_EQ(NotificationIconAccess::icon(icon), second);
  EXPECT_FALSE(NotificationIcon::create(kMenu, RgbaPixels{0, 0, {}}, "t").ok());
}

TEST(Win32NotificationIcon, TheTooltipReachesTheShellCutToItsBuffer) {
  auto recorder = std::make_shared<ShellRecorder>();
  NotificationIcon icon = make_icon(recorder);
  // 126 units, then a character of two: all of it would need 128 plus the NUL.
  const std::string text = std::string(126, 'a') + "\xF0\x9F\x98\x80";
  ASSERT_TRUE(icon.set_tooltip(text).ok());
  const NOTIFYICONDATAW& modify = recorder->last(NIM_MODIFY);
  EXPECT_EQ(modify.uFlags & (NIF_TIP | NIF_SHOWTIP), UINT{NIF_TIP | NIF_SHOWTIP});
  EXPECT_EQ(std::wstring(modify.szTip), std::wstring(126, L'a'));
  EXPECT_EQ(icon.tooltip(), text);
  EXPECT_TRUE(shell_holds_icon(NotificationIconAccess::window(icon)));
}

TEST(Win32NotificationIcon, RemovalIsFinalAndHappensOnce) {
  auto recorder = std::make_shared<ShellRecorder>();
  HWND window = nullptr;
  {
    NotificationIcon first = make_icon(recorder);
    NotificationIcon icon = std::move(first);  // the window follows the object
    window = NotificationIconAccess::window(icon);
    icon.remove();
    EXPECT_EQ(recorder->count(NIM_DELETE), 1u);
    EXPECT_FALSE(icon.is_added());
    EXPECT_FALSE(shell_holds_icon(window));
    EXPECT_TRUE(icon.set_tooltip("after").ok());
    PostMessageW(window, taskbar_created(), 0, 0);
    (void)platform::dispatch_window_messages();
    EXPECT_EQ(recorder->count(NIM_ADD), 1u);
    EXPECT_EQ(recorder->count(NIM_MODIFY), 0u);
  }
  EXPECT_EQ(recorder->count(NIM_DELETE), 1u);
  EXPECT_FALSE(IsWindow(window));

  {
    NotificationIcon icon = make_icon(recorder);
    window = NotificationIconAccess::window(icon);
    // Only its owner ends the window, not a WM_CLOSE from anyone.
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window));
  }
  EXPECT_EQ(recorder->count(NIM_DELETE), 2u);
  EXPECT_FALSE(shell_holds_icon(window));
  EXPECT_FALSE(IsWindow(window));
}

// ---------------------------------------------------------------------------
// The message loop.

struct Counter {
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_APP) ++count;
    return DefWindowProcW(window, message, wparam, lparam);
  }
  static inline int count = 0;
};

HWND counting_window() {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &Counter::procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"tallowTestCounter";
  RegisterClassW(&window_class);
  return CreateWindowExW(0, L"tallowTestCounter", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

TEST(Win32MessageLoop, DrainsEverythingAndReportsQuit) {
  const platform::win32::ScopedWindow window(counting_window());
  ASSERT_TRUE(window);
  Counter::count = 0;
  for (int i = 0; i < 3; ++i) PostMessageW(window.get(), WM_APP, 0, 0);
  EXPECT_EQ(platform::dispatch_window_messages(), platform::PumpResult::drained);
  EXPECT_EQ(Counter::count, 3);

  PostMessageW(window.get(), WM_APP, 0, 0);
  PostQuitMessage(0);
  EXPECT_EQ(platform::dispatch_window_messages(), platform::PumpResult::quit);
  EXPECT_EQ(Counter::count, 4) << "posted messages come before the quit";
  EXPECT_EQ(platform::dispatch_window_messages(), platform::PumpResult::drained);
}

TEST(Win32MessageLoop, AWaitEndsWithInputOrItsLimit) {
  const platform::win32::ScopedWindow window(counting_window());
  const auto start = std::chrono::steady_clock::now();
  std::thread poster([&] { PostMessageW(window.get(), WM_APP, 0, 0); });
  platform::wait_for_window_input(std::chrono::seconds(60));
  poster.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  (void)platform::dispatch_window_messages();

  const auto quiet = std::chrono::steady_clock::now();
  platform::wait_for_window_input(std::chrono::milliseconds(30));
  // Generous: a wait may end up to a timer tick early.
  EXPECT_GE(std::chrono::steady_clock::now() - quiet, std::chrono::milliseconds(15));
}

}  // namespace
}  // namespace tallow::test::win32
