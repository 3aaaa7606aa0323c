// How long the running tray takes to show a new state: flips the taskbar theme (the
// SystemUsesLightTheme value, which the tray reads on every pass) SAMPLES times, at
// moments spread over the tray's 200 ms pace, and measures each time until the tray
// has handed the notification area the new icon (a flip changes nothing else, and the
// tray hands over only what changed). With --broadcast, each flip is followed by the
// WM_SETTINGCHANGE broadcast that Windows sends on a real theme change.
//
//   tray_latency SAMPLES [--broadcast]
//
// Prints "samples N p50 X ms p99 Y ms max Z ms", and how much of that the notification
// area's own handling of the tray's calls took. Needs the tray running, and
// notify_recorder.dll beside this program. Leaves the theme value deleted.

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "notify_record.h"
#include "support/win32/remote_call.h"

namespace {

constexpr wchar_t kThemeKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kRecordName[] = L"Local\\tallowNotifyRecord";

void set_theme(DWORD light, bool broadcast) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kThemeKey, L"SystemUsesLightTheme", REG_DWORD, &light, sizeof light);
  if (broadcast) {
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"ImmersiveColorSet"),
                        SMTO_ABORTIFHUNG, 1000, nullptr);
  }
}

double milliseconds(LONGLONG ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: tray_latency SAMPLES [--broadcast]\n", stderr);
    return 64;
  }
  const int samples = std::clamp(std::atoi(argv[1]), 1, static_cast<int>(kNotifyRecordCapacity) - 1);
  const bool broadcast = argc > 2 && std::string(argv[2]) == "--broadcast";

  const HWND control = FindWindowW(L"tallowmereTrayControl", nullptr);
  DWORD tray = 0;
  if (control == nullptr || GetWindowThreadProcessId(control, &tray) == 0) {
    std::fputs("tray_latency: no tray is running\n", stderr);
    return 2;
  }
  const HANDLE mapping =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(NotifyRecord), kRecordName);
  auto* record = static_cast<NotifyRecord*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(NotifyRecord)));
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const auto recorder = std::filesystem::path(self).parent_path() / L"notify_recorder.dll";
  const auto recording =
      record != nullptr ? tallow::test::win32::call_in_process(tray, recorder, "tallow_record_notify", kRecordName)
                        : std::nullopt;
  if (recording != DWORD{0}) {
    std::fprintf(stderr, "tray_latency: cannot record the tray's notifications (%ld)\n",
                 recording ? static_cast<long>(*recording) : -1L);
    return 3;
  }

  // Start from a dark taskbar, once the tray has shown it.
  set_theme(0, broadcast);
  Sleep(1000);
  std::vector<double> latencies, shell_calls;
  for (int i = 0; i < samples; ++i) {
    const LONG seen = record->count;
    LARGE_INTEGER flipped;
    QueryPerformanceCounter(&flipped);
    set_theme(i % 2 == 0 ? 1 : 0, broadcast);
    const auto icon_at = [&]() -> LONG {
      for (LONG n = seen; n < record->count; ++n) {
        if ((record->calls[n].flags & NIF_ICON) != 0) return n;
      }
      return -1;
    };
    const DWORD deadline = GetTickCount() + 5000;
    while (icon_at() < 0 && GetTickCount() < deadline) Sleep(1);
    const LONG icon = icon_at();
    if (icon < 0) {
      std::fprintf(stderr, "tray_latency: no new icon within 5 s (sample %d)\n", i);
      return 4;
    }
    latencies.push_back(milliseconds(record->calls[icon].after - flipped.QuadPart));
    LONGLONG in_shell = 0;
    for (LONG n = seen; n <= icon; ++n) in_shell += record->calls[n].after - record->calls[n].before;
    shell_calls.push_back(milliseconds(in_shell));
    // The next flip lands elsewhere in the tray's 200 ms pace.
    Sleep(static_cast<DWORD>((i * 37) % 211));
  }
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kThemeKey, L"SystemUsesLightTheme");

  const auto quantile = [](std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
  };
  std::printf("samples %zu p50 %.1f ms p99 %.1f ms max %.1f ms; in Shell_NotifyIconW p50 %.1f ms p99 %.1f ms\n",
              latencies.size(), quantile(latencies, 0.50), quantile(latencies, 0.99), quantile(latencies, 1.0),
              quantile(shell_calls, 0.50), quantile(shell_calls, 0.99));
  return 0;
}
