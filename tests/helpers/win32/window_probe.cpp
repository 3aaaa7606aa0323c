// A DLL that the end-to-end tests load into a program under test (support/win32/
// remote_probe.h) to read what Wine 8 shows only to the program itself: the items of
// its open popup menu and the icon of its message box. Each export runs on a thread
// the test starts in the program, writes what it found to the UTF-8 file whose UTF-16
// path it is given, and returns 0, or non-zero when there was nothing to read.

#include <windows.h>

#include <string>

namespace {

struct Search {
  const wchar_t* class_name;
  HWND found = nullptr;
};

BOOL CALLBACK match_own_window(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<Search*>(context);
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != GetCurrentProcessId() || std::wstring(class_name) != search.class_name ||
      !IsWindowVisible(window)) {
    return TRUE;
  }
  search.found = window;
  return FALSE;
}

HWND find_own_window(const wchar_t* class_name) {
  Search search{class_name};
  EnumWindows(&match_own_window, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}

std::wstring window_text(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

DWORD write_file(const void* path, const std::string& bytes) {
  const HANDLE file = CreateFileW(static_cast<const wchar_t*>(path), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 10;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size() ? 0 : 11;
}

BOOL CALLBACK find_icon(HWND child, LPARAM found) {
  if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
  *reinterpret_cast<HICON*>(found) = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
  return FALSE;
}

}  // namespace

// One line per item of the open popup menu: "-" for a separator, otherwise the flags
// (g grayed, c checked, h highlighted, or "." for none), a tab and the label.
extern "C" __declspec(dllexport) DWORD WINAPI tallow_probe_menu(void* output_path) {
  const HWND popup = find_own_window(L"#32768");
  if (popup == nullptr) return 1;
  const auto menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
  const int count = GetMenuItemCount(menu);
  if (menu == nullptr || count < 0) return 2;
  std::string lines;
  for (int i = 0; i < count; ++i) {
    wchar_t label[512] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
    info.dwTypeData = label;
    info.cch = 512;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) return 3;
    if ((info.fType & MFT_SEPARATOR) != 0) {
      lines += "-\n";
      continue;
    }
    std::string flags;
    if ((info.fState & MFS_GRAYED) != 0) flags += 'g';
    if ((info.fState & MFS_CHECKED) != 0) flags += 'c';
    if ((info.fState & MFS_HILITE) != 0) flags += 'h';
    lines += (flags.empty() ? "." : flags) + "\t" + utf8(label) + "\n";
  }
  return write_file(output_path, lines);
}

// The open message box: its icon ("error", "information", "none" or "other"), a line
// feed, its caption, a line feed, and its text.
extern "C" __declspec(dllexport) DWORD WINAPI tallow_probe_message_box(void* output_path) {
  const HWND box = find_own_window(L"#32770");
  if (box == nullptr) return 1;
  HICON icon = nullptr;
  EnumChildWindows(box, &find_icon, reinterpret_cast<LPARAM>(&icon));
  const char* kind = icon == nullptr                         ? "none"
                     : icon == LoadIconW(nullptr, IDI_ERROR) ? "error"
                     : icon == LoadIconW(nullptr, IDI_INFORMATION) ? "information"
                                                                    : "other";
  // 0xFFFF: the static control that holds a message box's text.
  return write_file(output_path, std::string(kind) + "\n" + utf8(window_text(box)) + "\n" +
                                     utf8(window_text(GetDlgItem(box, 0xFFFF))));
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
