#include "support/win32/notification_icon_driver.h"

#include <atomic>
#include <iterator>
#include <mutex>
#include <thread>

#include "common/text.h"
#include "platform/main_loop.h"
#include "platform/win32/icon/notification_icon_win32.h"
#include "platform/win32/wide_text.h"
#include "support/test_support.h"

namespace tallow::test::win32 {
namespace {

using platform::win32::kNotificationIconClass;
using platform::win32::kNotificationIconId;
using platform::win32::kNotificationIconMessage;

constexpr wchar_t kPopupMenuClass[] = L"#32768";

struct WindowSearch {
  const wchar_t* class_name;
  DWORD process_id;
  bool visible_only;
  HWND found = nullptr;
};

BOOL CALLBACK match_window(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<WindowSearch*>(context);
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, static_cast<int>(std::size(class_name)));
  if (std::wstring_view(class_name) != search.class_name) return TRUE;
  if (search.visible_only && !IsWindowVisible(window)) return TRUE;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (search.process_id != 0 && owner != search.process_id) return TRUE;
  search.found = window;
  return FALSE;
}

HWND find_top_level(const wchar_t* class_name, DWORD process_id, bool visible_only) {
  WindowSearch search{class_name, process_id, visible_only};
  EnumWindows(&match_window, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND wait_for(const std::function<HWND()>& find, std::chrono::milliseconds limit) {
  HWND found = nullptr;
  wait_until([&] { return (found = find()) != nullptr; }, limit);
  return found;
}

void press(HWND popup, WORD key) {
  PostMessageW(popup, WM_KEYDOWN, key, 1);
  PostMessageW(popup, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
}

}  // namespace

HWND find_notification_icon_window(DWORD process_id) {
  return find_top_level(kNotificationIconClass, process_id, false);
}

HWND wait_for_notification_icon_window(DWORD process_id, std::chrono::milliseconds limit) {
  return wait_for([&] { return find_notification_icon_window(process_id); }, limit);
}

namespace {

NOTIFYICONDATAW icon_data(HWND icon_window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = icon_window;
  data.uID = kNotificationIconId;
  return data;
}

}  // namespace

bool shell_holds_icon(HWND icon_window) {
  NOTIFYICONDATAW data = icon_data(icon_window);
  return Shell_NotifyIconW(NIM_MODIFY, &data);
}

void shell_forgets_icon(HWND icon_window) {
  NOTIFYICONDATAW data = icon_data(icon_window);
  Shell_NotifyIconW(NIM_DELETE, &data);
}

void post_icon_notice(HWND icon_window, UINT event, POINT at) {
  // Version 4 puts the point in wparam and the event with the icon's id in lparam; the
  // older versions read lparam's low word as the event too.
  const WPARAM point = MAKEWPARAM(static_cast<WORD>(at.x), static_cast<WORD>(at.y));
  PostMessageW(icon_window, kNotificationIconMessage, point, MAKELPARAM(event, kNotificationIconId));
}

void click_notification_icon(HWND icon_window, MouseButton button, POINT at) {
  const bool left = button == MouseButton::left;
  const UINT events[] = {left ? UINT{WM_LBUTTONDOWN} : UINT{WM_RBUTTONDOWN},
                         left ? UINT{WM_LBUTTONUP} : UINT{WM_RBUTTONUP},
                         left ? UINT{NIN_SELECT} : UINT{WM_CONTEXTMENU}};
  for (const UINT event : events) post_icon_notice(icon_window, event, at);
}

HWND find_open_menu(DWORD process_id) { return find_top_level(kPopupMenuClass, process_id, true); }

HWND wait_for_open_menu(DWORD process_id, std::chrono::milliseconds limit) {
  return wait_for([&] { return find_open_menu(process_id); }, limit);
}

bool wait_for_menu_closed(HWND popup, std::chrono::milliseconds limit) {
  return wait_until([&] { return !IsWindow(popup) || !IsWindowVisible(popup); }, limit);
}

ShownMenuItem shown_separator() { return ShownMenuItem{"", true, false, false}; }

ShownMenuItem shown_item(std::string label, bool grayed, bool checked) {
  return ShownMenuItem{std::move(label), false, grayed, checked};
}

HMENU open_menu_handle(HWND popup) {
  return reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
}

std::optional<std::vector<ShownMenuItem>> read_open_menu(HWND popup) {
  const HMENU menu = open_menu_handle(popup);
  const int count = GetMenuItemCount(menu);
  if (menu == nullptr || count < 0) return std::nullopt;
  std::vector<ShownMenuItem> items;
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) return std::nullopt;
    std::wstring label(info.cch + 1, L'\0');
    info.dwTypeData = label.data();
    info.cch = static_cast<UINT>(label.size());
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) return std::nullopt;
    label.resize(info.cch);
    // A separator is only that: whatever state the system gives it is not shown.
    if ((info.fType & MFT_SEPARATOR) != 0) {
      items.push_back(shown_separator());
      continue;
    }
    items.push_back(shown_item(platform::win32::utf8_from_wide(label), (info.fState & MFS_GRAYED) != 0,
                               (info.fState & MFS_CHECKED) != 0));
  }
  return items;
}

std::size_t down_presses_to(const std::vector<bool>& is_separator, std::size_t position) {
  std::size_t presses = 1;
  for (std::size_t i = 0; i < position && i < is_separator.size(); ++i) {
    if (!is_separator[i]) ++presses;
  }
  return presses;
}

void pick_with_keyboard(HWND popup, std::size_t presses) {
  for (std::size_t i = 0; i < presses; ++i) press(popup, VK_DOWN);
  press(popup, VK_RETURN);
}

bool pick_open_menu_item(HWND popup, std::size_t position) {
  const auto items = read_open_menu(popup);
  if (!items || position >= items->size() || (*items)[position].separator) return false;
  std::vector<bool> is_separator;
  for (const auto& item : *items) is_separator.push_back(item.separator);
  for (std::size_t i = 0; i < down_presses_to(is_separator, position); ++i) press(popup, VK_DOWN);
  const HMENU menu = open_menu_handle(popup);
  const auto highlighted = [&] {
    return (GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION) & MF_HILITE) != 0;
  };
  if (!wait_until(highlighted, 20s)) {
    close_open_menu(popup);
    return false;
  }
  press(popup, VK_RETURN);
  return true;
}

void close_open_menu(HWND popup) { press(popup, VK_ESCAPE); }

// ---------------------------------------------------------------------------

struct OwnerThreadPump::State {
  struct Task {
    std::function<void()> work;
    std::atomic<bool> done{false};
  };

  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_APP) return DefWindowProcW(window, message, wparam, lparam);
    // The posted message owns one reference to the task, whether or not anyone still waits.
    const std::unique_ptr<std::shared_ptr<Task>> task(reinterpret_cast<std::shared_ptr<Task>*>(lparam));
    (*task)->work();
    (*task)->done = true;
    return 0;
  }

  HWND window = nullptr;
};

OwnerThreadPump::OwnerThreadPump() : state_(std::make_shared<State>()) {
  static std::once_flag registered;
  std::call_once(registered, [] {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &State::procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"tallowTestOwnerPump";
    RegisterClassW(&window_class);
  });
  state_->window = CreateWindowExW(0, L"tallowTestOwnerPump", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                   nullptr, GetModuleHandleW(nullptr), nullptr);
}

OwnerThreadPump::~OwnerThreadPump() {
  // Tasks still queued would never run: run them now so that none is lost or leaked.
  MSG message;
  while (PeekMessageW(&message, state_->window, WM_APP, WM_APP, PM_REMOVE)) DispatchMessageW(&message);
  DestroyWindow(state_->window);
}

void OwnerThreadPump::drive(const std::function<void()>& steps) {
  std::atomic<bool> finished{false};
  const HWND window = state_->window;
  std::thread driver([&] {
    steps();
    finished = true;
    PostMessageW(window, WM_NULL, 0, 0);  // wakes the wait below
  });
  while (!finished) {
    (void)platform::dispatch_pending_events();
    platform::wait_for_events(std::chrono::milliseconds(50));
  }
  driver.join();
  (void)platform::dispatch_pending_events();
}

bool OwnerThreadPump::run_on_owner(std::function<void()> task, std::chrono::milliseconds limit) {
  auto shared = std::make_shared<State::Task>();
  shared->work = std::move(task);
  auto* posted = new std::shared_ptr<State::Task>(shared);
  if (!PostMessageW(state_->window, WM_APP, 0, reinterpret_cast<LPARAM>(posted))) {
    delete posted;
    return false;
  }
  return wait_until([&] { return shared->done.load(); }, limit);
}

}  // namespace tallow::test::win32
