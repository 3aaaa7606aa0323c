// The notification icon under a real shell (Wine's): clicks open the menu, picks reach
// the queue, menus and images are replaced and released, and the icon finds its way
// back into the notification area after refused adds and re-created taskbars.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <thread>

#include "platform/main_loop.h"
#include "platform/notification_icon.h"
#include "platform/notification_icon_access.h"
#include "platform/os_error.h"
#include "platform/win32/icon/notification_icon_win32.h"
#include "platform/win32/scoped_handle.h"
#include "support/test_support.h"
#include "support/win32/notification_icon_driver.h"

namespace tallow::test::win32 {

void PrintTo(const ShownMenuItem& item, std::ostream* out) {
  *out << (item.separator ? "----" : '"' + item.label + '"') << (item.grayed ? " grayed" : "")
       << (item.checked ? " checked" : "");
}

namespace {

using namespace platform;
using namespace platform::win32;
using Access = NotificationIconAccess::Platform;
using Kind = MenuItem::Kind;
using Commands = std::vector<std::string>;
using Shown = std::vector<ShownMenuItem>;
using std::chrono::milliseconds;

MenuItem item(std::string text, std::optional<std::string> command) {
  const bool enabled = command.has_value();
  return {Kind::text, std::move(text), enabled, false, std::move(command)};
}
const MenuItem kSeparator{};

const Menu kMenu = {item("Running", {}), kSeparator, item("Stop & go", "stop"),
                                {Kind::check, "Launch at Login", true, true, "login"}, kSeparator,
                                item("Quit", "quit")};
const Shown kShownMenu = {shown_item("Running", true), shown_separator(), shown_item("Stop && go"),
                          shown_item("Launch at Login", false, true), shown_separator(), shown_item("Quit")};
const std::vector<std::uint8_t> kWhite(2 * 2 * 4, 0xFF);
const DWORD kSelf = GetCurrentProcessId();
const UINT kTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");

// The commands picked from the icon's menu, oldest first, taken.
Commands picked_from(NotificationIcon& icon) {
  Commands picked;
  while (auto command = icon.next_picked_command()) picked.push_back(std::move(*command));
  return picked;
}

bool pump_until(const std::function<bool()>& condition) {
  return wait_until([&] { return dispatch_pending_events() == PumpResult::drained && condition(); });
}

// Between the icon and the shell: records every call, refuses adds (all of them when
// negative) and the version when told, passes the rest on.
struct ShellRecorder {
  std::vector<DWORD> calls;
  std::vector<NOTIFYICONDATAW> data;
  int adds_to_refuse = 0;
  bool refuse_version = false;
  bool add_then_refuse = false;  // the shell takes the first add but says it did not
  int modifies_to_refuse = 0;    // a busy shell that times out on updates

  std::size_t count(DWORD message) const { return std::count(calls.begin(), calls.end(), message); }
  const NOTIFYICONDATAW& last(DWORD message) const {
    return data[std::find(calls.rbegin(), calls.rend(), message).base() - calls.begin() - 1];
  }
};

NotificationIcon make_icon(std::shared_ptr<ShellRecorder> shell, Menu menu = kMenu,
                           NotificationIconTiming timing = {}) {
  auto icon = Access::create(std::move(menu), IconPicture{"", {{2, 2, kWhite}}}, "tallowmered: Running", timing,
                             [shell](DWORD message, NOTIFYICONDATAW* data) -> BOOL {
                               shell->calls.push_back(message);
                               shell->data.push_back(*data);
                               if (message == NIM_ADD && shell->add_then_refuse) {
                                 shell->add_then_refuse = false;
                                 Shell_NotifyIconW(message, data);
                                 return FALSE;
                               }
                               if (message == NIM_ADD && shell->adds_to_refuse != 0) {
                                 shell->adds_to_refuse -= shell->adds_to_refuse > 0;
                                 SetLastError(ERROR_TIMEOUT);
                                 return FALSE;
                               }
                               if (message == NIM_SETVERSION && shell->refuse_version) return FALSE;
                               if (message == NIM_MODIFY && shell->modifies_to_refuse > 0) {
                                 --shell->modifies_to_refuse;
                                 SetLastError(ERROR_TIMEOUT);
                                 return FALSE;
                               }
                               return Shell_NotifyIconW(message, data);
                             });
  EXPECT_TRUE(icon.ok()) << icon.error().message;
  return std::move(icon.value());
}

// After this, every message posted before has been handled; a menu open now was opened
// by one of them, and is closed again.
bool no_menu_opened_meanwhile(OwnerThreadPump& pump) {
  if (!pump.run_on_owner([] {})) return false;
  const HWND opened = find_open_menu(kSelf);
  if (opened == nullptr) return true;
  close_open_menu(opened);
  wait_for_menu_closed(opened);
  return false;
}

TEST(Win32NotificationIcon, EitherClickOpensTheMenuOnceAndPicksReachTheQueue) {
  struct Case {
    MouseButton button;
    std::optional<std::size_t> position;  // none: closed with Escape
    Commands queued;
  };
  const std::vector<Case> clicks = {{MouseButton::left, 2, {"stop"}}, {MouseButton::right, 3, {"login"}},
                                    {MouseButton::right, 5, {"quit"}}, {MouseButton::left, {}, {}}};
  for (const bool version_4 : {true, false}) {
    SCOPED_TRACE(version_4 ? "version 4" : "older shell");
    auto shell = std::make_shared<ShellRecorder>();
    shell->refuse_version = !version_4;
    NotificationIcon icon = make_icon(shell);
    const HWND window = Access::window(icon);
    ASSERT_TRUE(NotificationIconAccess::is_added(icon));
    EXPECT_EQ(Access::uses_version_4(icon), version_4);
    EXPECT_TRUE(shell_holds_icon(window));
    EXPECT_EQ(find_notification_icon_window(kSelf), window);
    const NOTIFYICONDATAW& add = shell->last(NIM_ADD);
    EXPECT_EQ(add.uFlags & (NIF_MESSAGE | NIF_ICON | NIF_TIP), UINT{NIF_MESSAGE | NIF_ICON | NIF_TIP});
    EXPECT_EQ(add.uCallbackMessage, kNotificationIconMessage);
    EXPECT_EQ(add.hIcon, Access::icon(icon));
    EXPECT_EQ(std::wstring(add.szTip), L"tallowmered: Running");

    OwnerThreadPump pump;
    pump.drive([&] {
      // Alone, the notices of the other way of reporting clicks open nothing; together
      // with them the menu would open twice.
      for (const UINT notice : version_4 ? std::vector<UINT>{WM_LBUTTONUP, WM_RBUTTONUP}
                                         : std::vector<UINT>{NIN_SELECT, WM_CONTEXTMENU}) {
        post_icon_notice(window, notice);
        EXPECT_TRUE(no_menu_opened_meanwhile(pump)) << notice;
      }
      for (const Case& c : clicks) {
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
        EXPECT_TRUE(no_menu_opened_meanwhile(pump));
        EXPECT_EQ(picked_from(icon), c.queued);
      }
    });
  }
}

TEST(Win32NotificationIcon, AMenuReplacedWhileOpenStaysUntilItCloses) {
  const Menu stopped = {item("Stopped", {}), kSeparator, item("Start", "start")};
  const Menu running = {item("Running", {}), kSeparator, item("Stop", "stop"), item("Restart", "restart")};
  NotificationIcon icon = make_icon(std::make_shared<ShellRecorder>(), stopped);
  const HWND window = Access::window(icon);
  OwnerThreadPump pump;
  pump.drive([&] {
    click_notification_icon(window, MouseButton::left);
    const HWND popup = wait_for_open_menu(kSelf);
    ASSERT_NE(popup, nullptr);
    const HMENU shown = open_menu_handle(popup);
    // Runs inside the open menu's own loop, as a refresh would.
    ASSERT_TRUE(pump.run_on_owner([&] { EXPECT_TRUE(icon.set_menu(running).ok()); }));
    EXPECT_NE(Access::menu(icon), shown);
    EXPECT_EQ(read_open_menu(popup), (Shown{shown_item("Stopped", true), shown_separator(), shown_item("Start")}));
    // Position 2 is "Start" in what the user sees, "Stop" in the new menu.
    EXPECT_TRUE(pick_open_menu_item(popup, 2));
    ASSERT_TRUE(wait_for_menu_closed(popup));
    ASSERT_TRUE(pump.run_on_owner([] {}));
    EXPECT_FALSE(IsMenu(shown)) << "the replaced menu is released once closed";

    click_notification_icon(window, MouseButton::right);
    const HWND next = wait_for_open_menu(kSelf);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(read_open_menu(next),
              (Shown{shown_item("Running", true), shown_separator(), shown_item("Stop"), shown_item("Restart")}));
    close_open_menu(next);
    EXPECT_TRUE(wait_for_menu_closed(next));
  });
  EXPECT_EQ(picked_from(icon), Commands{"start"});
  EXPECT_EQ(NotificationIconAccess::menu(icon), running);
}

// The whole life of an icon with a shell that is slow at first, restarts twice and
// refuses for a while, until its owner removes it.
TEST(Win32NotificationIcon, FindsItsWayBackIntoTheNotificationAreaUntilRemoved) {
  auto shell = std::make_shared<ShellRecorder>();
  shell->adds_to_refuse = 3;
  HWND window = nullptr;
  {
    NotificationIcon first = make_icon(shell, kMenu, {milliseconds(10), milliseconds(300)});
    NotificationIcon icon = std::move(first);  // the window goes with the object
    window = Access::window(icon);
    EXPECT_FALSE(NotificationIconAccess::is_added(icon));
    // Changes before the add are kept for it, not sent.
    EXPECT_TRUE(icon.set_tooltip("tallowmered: Starting\u2026").ok());
    ASSERT_TRUE(pump_until([&] { return NotificationIconAccess::is_added(icon); }));
    // Each refused add asks whether the shell holds the icon already.
    EXPECT_EQ(shell->calls, (std::vector<DWORD>{NIM_ADD, NIM_MODIFY, NIM_ADD, NIM_MODIFY, NIM_ADD,
                                                NIM_MODIFY, NIM_ADD, NIM_SETVERSION}));
    EXPECT_EQ(std::wstring(shell->last(NIM_ADD).szTip), L"tallowmered: Starting\u2026");
    EXPECT_TRUE(shell_holds_icon(window));

    // Explorer restarts: the icon is gone, and the broadcast (which only top-level
    // windows hear) brings it back with its version.
    shell_forgets_icon(window);
    PostMessageW(HWND_BROADCAST, kTaskbarCreated, 0, 0);
    ASSERT_TRUE(pump_until([&] { return shell->count(NIM_ADD) == 5 && shell_holds_icon(window); }));
    EXPECT_EQ(shell->count(NIM_SETVERSION), 2u);

    // A broadcast while the shell still holds it: the refused add becomes an update.
    PostMessageW(window, kTaskbarCreated, 0, 0);
    ASSERT_TRUE(pump_until([&] { return shell->count(NIM_ADD) == 6; }));
    EXPECT_EQ(shell->calls.back(), DWORD{NIM_SETVERSION});
    EXPECT_TRUE(NotificationIconAccess::is_added(icon) && shell_holds_icon(window));

    // A shell that refuses past the limit: the icon, once shown, waits without failing,
    // and the next broadcast tries at once.
    shell_forgets_icon(window);
    shell->adds_to_refuse = -1;
    PostMessageW(window, kTaskbarCreated, 0, 0);
    ASSERT_TRUE(pump_until([&] { return shell->count(NIM_ADD) > 7 && !Access::retrying(icon); }));
    EXPECT_FALSE(NotificationIconAccess::is_added(icon));
    EXPECT_EQ(icon.add_failure(), std::nullopt);
    shell->adds_to_refuse = 0;
    PostMessageW(window, kTaskbarCreated, 0, 0);
    ASSERT_TRUE(pump_until([&] { return NotificationIconAccess::is_added(icon) && shell_holds_icon(window); }));

    // Removed: gone for good, later changes and broadcasts reach no shell.
    const std::size_t calls = shell->calls.size();
    NotificationIconAccess::remove(icon);
    EXPECT_FALSE(NotificationIconAccess::is_added(icon) || shell_holds_icon(window));
    EXPECT_TRUE(icon.set_tooltip("after").ok());
    PostMessageW(window, kTaskbarCreated, 0, 0);
    SendMessageW(window, WM_CLOSE, 0, 0);  // only its owner ends the window
    (void)dispatch_pending_events();
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(shell->calls.size(), calls + 1);
    EXPECT_EQ(shell->calls.back(), DWORD{NIM_DELETE});
  }
  EXPECT_EQ(shell->count(NIM_DELETE), 1u) << "removed once, not again when destroyed";
  EXPECT_FALSE(IsWindow(window));
  {
    const NotificationIcon icon = make_icon(shell);
    window = Access::window(icon);
  }
  EXPECT_EQ(shell->count(NIM_DELETE), 2u);
  EXPECT_FALSE(shell_holds_icon(window) || IsWindow(window));
}

// A new tray may be handed the window handle of one that was killed; the shell then
// refuses the add as a duplicate, and the entry is simply taken over.
TEST(Win32NotificationIcon, AnIconTheShellStillHoldsUnderThisWindowIsTakenOver) {
  auto shell = std::make_shared<ShellRecorder>();
  shell->add_then_refuse = true;
  NotificationIcon icon = make_icon(shell, kMenu, {std::chrono::hours(1), std::chrono::hours(2)});
  EXPECT_TRUE(NotificationIconAccess::is_added(icon)) << "no retry needed";
  EXPECT_EQ(shell->calls, (std::vector<DWORD>{NIM_ADD, NIM_MODIFY, NIM_SETVERSION}));
  EXPECT_EQ(std::wstring(shell->last(NIM_MODIFY).szTip), L"tallowmered: Running");
  EXPECT_TRUE(shell_holds_icon(Access::window(icon)));
}

TEST(Win32NotificationIcon, AnIconNeverShownFailsAfterTheLimitForGood) {
  auto shell = std::make_shared<ShellRecorder>();
  shell->adds_to_refuse = -1;
  NotificationIcon icon = make_icon(shell, kMenu, {milliseconds(10), milliseconds(100)});
  ASSERT_TRUE(pump_until([&] { return icon.add_failure().has_value(); }));
  const std::string message = icon.add_failure()->message;
  const std::string reason = ": " + os_error_text(ERROR_TIMEOUT);
  EXPECT_EQ(message.rfind("the notification area refused it for ", 0), 0u) << message;
  EXPECT_TRUE(message.ends_with(reason)) << message;
  EXPECT_GE(shell->count(NIM_ADD), 2u);
  const std::size_t adds = shell->count(NIM_ADD);
  PostMessageW(Access::window(icon), kTaskbarCreated, 0, 0);
  (void)dispatch_pending_events();
  EXPECT_EQ(shell->count(NIM_ADD), adds);
  EXPECT_FALSE(NotificationIconAccess::is_added(icon));
}

// The colour bitmap (32-bit, top row first) and the mask rows behind an icon.
std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> icon_bits(HICON icon, int width, int height) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return {};
  const ScopedBitmap colour(info.hbmColor), mask(info.hbmMask);
  BITMAPINFO format{};
  format.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width * height * 4));
  std::vector<std::uint8_t> mask_rows(static_cast<std::size_t>((width + 15) / 16 * 2 * height));
  const HDC screen = GetDC(nullptr);
  GetDIBits(screen, colour.get(), 0, static_cast<UINT>(height), bgra.data(), &format, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  GetBitmapBits(mask.get(), static_cast<LONG>(mask_rows.size()), mask_rows.data());
  return {bgra, mask_rows};
}

TEST(Win32NotificationIcon, ImagesAndTooltipsReachTheShellAndReplacedIconsAreReleased) {
  auto shell = std::make_shared<ShellRecorder>();
  NotificationIcon icon = make_icon(shell);
  // 3×2: opaque red, half green, clear blue / white, black, clear.
  const std::vector<std::uint8_t> rgba = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0,
                                          255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 0};
  const HICON first = Access::icon(icon);
  ASSERT_TRUE(icon.set_picture({"", {{3, 2, rgba}}}).ok());
  const HICON second = Access::icon(icon);
  EXPECT_EQ(shell->last(NIM_MODIFY).hIcon, second);
  ICONINFO info{};
  EXPECT_FALSE(GetIconInfo(first, &info)) << "the replaced icon is destroyed";
  const auto [bgra, mask] = icon_bits(second, 3, 2);
  EXPECT_EQ(bgra, (std::vector<std::uint8_t>{0, 0, 255, 255, 0, 255, 0, 128, 255, 0, 0, 0,
                                             255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 0}));
  EXPECT_EQ(mask, (std::vector<std::uint8_t>{0x20, 0, 0x20, 0}));  // the clear third pixels
  // The same image again changes nothing the shell would redraw.
  const std::size_t modifies = shell->count(NIM_MODIFY);
  ASSERT_TRUE(icon.set_picture({"other-name", {{3, 2, rgba}}}).ok());
  EXPECT_EQ(shell->count(NIM_MODIFY), modifies);
  EXPECT_EQ(Access::icon(icon), second);
  const std::vector<std::uint8_t> short_of_one(15);
  const auto refused = icon.set_picture({"", {{2, 2, short_of_one}}});
  EXPECT_EQ(refused.ok() ? "" : refused.error().message, "2\u00D72 RGBA pixels take 16 bytes, not 15");
  EXPECT_EQ(Access::icon(icon), second);

  // 126 units, then a character of two: it would need 128 plus the NUL.
  const std::string text = std::string(126, 'a') + "\xF0\x9F\x98\x80";
  ASSERT_TRUE(icon.set_tooltip(text).ok());
  EXPECT_EQ(shell->last(NIM_MODIFY).uFlags & (NIF_TIP | NIF_SHOWTIP), UINT{NIF_TIP | NIF_SHOWTIP});
  EXPECT_EQ(std::wstring(shell->last(NIM_MODIFY).szTip), std::wstring(126, L'a'));
  EXPECT_EQ(NotificationIconAccess::tooltip(icon), text);
  ASSERT_TRUE(icon.set_tooltip(text).ok());
  EXPECT_EQ(shell->count(NIM_MODIFY), modifies + 1) << "the same tooltip is not sent again";
  EXPECT_TRUE(shell_holds_icon(Access::window(icon)));
}

// A busy shell that refuses an update: only what it took counts as shown, so the same
// look offered again reaches it, and once taken is not sent again.
TEST(Win32NotificationIcon, AnUpdateTheShellRefusedIsSentAgainWithTheSameLook) {
  const std::vector<std::uint8_t> red = {255, 0, 0, 255};
  struct Row {
    const char* name;
    std::function<Result<void>(NotificationIcon&)> set;
    UINT flag;
  };
  const Row rows[] = {
      {"the picture", [&](NotificationIcon& icon) { return icon.set_picture({"", {{1, 1, red}}}); }, NIF_ICON},
      {"the tooltip", [](NotificationIcon& icon) { return icon.set_tooltip("tallowmered: Stopped"); }, NIF_TIP},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto shell = std::make_shared<ShellRecorder>();
    NotificationIcon icon = make_icon(shell);
    ASSERT_TRUE(NotificationIconAccess::is_added(icon));
    shell->modifies_to_refuse = 1;
    EXPECT_FALSE(row.set(icon).ok());
    const std::size_t modifies = shell->count(NIM_MODIFY);
    EXPECT_TRUE(row.set(icon).ok());
    EXPECT_EQ(shell->count(NIM_MODIFY), modifies + 1);
    EXPECT_NE(shell->last(NIM_MODIFY).uFlags & row.flag, 0u);
    EXPECT_TRUE(row.set(icon).ok());
    EXPECT_EQ(shell->count(NIM_MODIFY), modifies + 1);
  }
}

LRESULT CALLBACK count_app_messages(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  static int count = 0;
  if (message == WM_APP) return ++count;
  return message == WM_APP + 1 ? count : DefWindowProcW(window, message, wparam, lparam);
}

TEST(Win32MessageLoop, DrainsEverythingReportsQuitAndWaitsForInput) {
  const WNDCLASSW window_class{0, &count_app_messages, 0, 0, GetModuleHandleW(nullptr), {}, {}, {}, {},
                               L"tallowTestCounter"};
  RegisterClassW(&window_class);
  const ScopedWindow window(CreateWindowExW(0, L"tallowTestCounter", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                            nullptr, GetModuleHandleW(nullptr), nullptr));
  const auto count = [&] { return SendMessageW(window.get(), WM_APP + 1, 0, 0); };
  const LRESULT before = count();
  for (int i = 0; i < 3; ++i) PostMessageW(window.get(), WM_APP, 0, 0);
  EXPECT_EQ(dispatch_pending_events(), PumpResult::drained);
  EXPECT_EQ(count(), before + 3);
  PostMessageW(window.get(), WM_APP, 0, 0);
  PostQuitMessage(0);
  EXPECT_EQ(dispatch_pending_events(), PumpResult::quit);
  EXPECT_EQ(count(), before + 4) << "posted messages come before the quit";
  EXPECT_EQ(dispatch_pending_events(), PumpResult::drained);

  const auto start = std::chrono::steady_clock::now();
  std::thread poster([&] { PostMessageW(window.get(), WM_APP, 0, 0); });
  wait_for_events(std::chrono::seconds(60));
  poster.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  // Without input the wait lasts its limit, a tick early at most. Wine's shell may still
  // be sending this thread word of the icons the tests before removed; such a wait ends
  // early, so the quietest of a few counts.
  auto longest = std::chrono::steady_clock::duration::zero();
  for (int attempt = 0; attempt < 5 && longest < milliseconds(15); ++attempt) {
    (void)dispatch_pending_events();
    const auto quiet = std::chrono::steady_clock::now();
    wait_for_events(milliseconds(30));
    longest = std::max(longest, std::chrono::steady_clock::now() - quiet);
  }
  EXPECT_GE(longest, milliseconds(15));
}

}  // namespace
}  // namespace tallow::test::win32
