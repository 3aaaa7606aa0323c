// Looks at what the Windows installers left, the way Windows itself sees it, for
// tests/packaging/nsis_test.sh and msi_test.sh (run under Wine):
//
//   package_probe version FILE         the version resource, one "Name=value" a line
//   package_probe shortcut FILE.lnk    the shortcut's Target, Arguments, WorkingDirectory
//                                      and Icon, one "Name=value" a line
//   package_probe tray present|absent SECONDS
//                                      waits until the tray's control window is there (or
//                                      gone); exit status 1 when it is not by then
//   package_probe close-tray           posts WM_CLOSE to the tray's control window, as
//                                      the installer does; exit status 1 when there is none
//   package_probe stubborn-tray SECONDS
//                                      a control window that ignores WM_CLOSE, as a tray
//                                      that hangs would, for SECONDS; then it ends
//
// Output is UTF-8. Exit status 2 means the request itself failed.

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/owner_window.h"
#include "platform/win32/wide_text.h"

namespace {

constexpr wchar_t kControlClass[] = L"tallowmereTrayControl";

void print(const char* name, const std::wstring& value) {
  std::printf("%s=%s\n", name, tallow::platform::win32::utf8_from_wide(value).c_str());
}

int fail(const char* what) {
  std::fprintf(stderr, "package_probe: %s (error %lu)\n", what, GetLastError());
  return 2;
}

int print_version(const wchar_t* file) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
  if (size == 0) return fail("no version resource");
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(file, 0, size, block.data())) return fail("GetFileVersionInfoW");

  void* fixed = nullptr;
  UINT fixed_size = 0;
  if (VerQueryValueW(block.data(), L"\\", &fixed, &fixed_size) && fixed_size >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    const auto quad = [](DWORD high, DWORD low) {
      return std::to_wstring(HIWORD(high)) + L"." + std::to_wstring(LOWORD(high)) + L"." +
             std::to_wstring(HIWORD(low)) + L"." + std::to_wstring(LOWORD(low));
    };
    print("FixedFileVersion", quad(info->dwFileVersionMS, info->dwFileVersionLS));
    print("FixedProductVersion", quad(info->dwProductVersionMS, info->dwProductVersionLS));
  }

  // The strings of the first translation the resource lists.
  struct Translation {
    WORD language;
    WORD code_page;
  };
  void* translations = nullptr;
  UINT translations_size = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translations, &translations_size) ||
      translations_size < sizeof(Translation)) {
    return fail("no translation");
  }
  const auto* first = static_cast<const Translation*>(translations);
  wchar_t prefix[64];
  swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", first->language, first->code_page);
  for (const char* name : {"CompanyName", "FileDescription", "FileVersion", "InternalName",
                           "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion"}) {
    std::wstring path = prefix;
    for (const char* c = name; *c; ++c) path += static_cast<wchar_t>(*c);
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), path.c_str(), &value, &length) && length > 0) {
      print(name, static_cast<const wchar_t*>(value));
    }
  }
  return 0;
}

int print_shortcut(const wchar_t* file) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return fail("CoInitializeEx");
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link)))) {
    return fail("CoCreateInstance(ShellLink)");
  }
  IPersistFile* persist = nullptr;
  int status = 0;
  if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) ||
      FAILED(persist->Load(file, STGM_READ))) {
    status = fail("cannot load the shortcut");
  } else {
    wchar_t text[MAX_PATH * 2] = {};
    int icon_index = 0;
    if (SUCCEEDED(link->GetPath(text, MAX_PATH * 2, nullptr, SLGP_RAWPATH))) print("Target", text);
    text[0] = L'\0';
    if (SUCCEEDED(link->GetArguments(text, MAX_PATH * 2))) print("Arguments", text);
    text[0] = L'\0';
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH * 2))) print("WorkingDirectory", text);
    text[0] = L'\0';
    if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH * 2, &icon_index))) {
      print("Icon", std::wstring(text) + L"," + std::to_wstring(icon_index));
    }
  }
  if (persist) persist->Release();
  link->Release();
  CoUninitialize();
  return status;
}

int wait_for_tray(bool present, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    if ((FindWindowW(kControlClass, nullptr) != nullptr) == present) return 0;
    if (std::chrono::steady_clock::now() >= deadline) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

int close_tray() {
  HWND window = FindWindowW(kControlClass, nullptr);
  if (window == nullptr) return 1;
  return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : fail("PostMessageW");
}

int stubborn_tray(int seconds) {
  struct Deaf {
    std::optional<LRESULT> handle(UINT message, WPARAM, LPARAM) {
      if (message == WM_CLOSE) return 0;
      return std::nullopt;
    }
  } deaf;
  auto window = tallow::platform::win32::create_owner_window(kControlClass, &deaf);
  if (!window) return fail("cannot make the control window");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  return 0;
}

int usage() {
  std::fputs("usage: package_probe version FILE | shortcut FILE.lnk | tray present|absent SECONDS"
             " | close-tray | stubborn-tray SECONDS\n",
             stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"version" && argc == 3) return print_version(argv[2]);
  if (command == L"shortcut" && argc == 3) return print_shortcut(argv[2]);
  if (command == L"tray" && argc == 4) {
    const std::wstring state = argv[2];
    if (state != L"present" && state != L"absent") return usage();
    return wait_for_tray(state == L"present", std::wcstol(argv[3], nullptr, 10));
  }
  if (command == L"close-tray" && argc == 2) return close_tray();
  if (command == L"stubborn-tray" && argc == 3) return stubborn_tray(std::wcstol(argv[2], nullptr, 10));
  return usage();
}
