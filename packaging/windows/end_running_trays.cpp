// Ends the running trays of one installation before Windows Installer replaces or
// removes its files, and starts the tray again once an upgrade is done. The MSI carries
// it in its Binary table and runs it from a temporary copy; it is never installed.
//
//   end_running_trays [--remember] DIRECTORY
//       Asks every tray whose program is in DIRECTORY, in this session, to end, as the
//       menu's Quit does (WM_CLOSE to its control window: it stops its agent, waits for
//       it and exits), and waits until each has ended and DIRECTORY\tallowmere-tray.exe
//       can be written. --remember notes for --start-again whether it ended one.
//   end_running_trays --start-again DIRECTORY
//       Starts DIRECTORY\tallowmere-tray.exe when the run with --remember ended a tray.
//
// Exit status: 0 done; 1 a tray did not end in time; 2 a bad request or a failure of
// the system. A status other than 0 fails the installation before any file is touched.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/win32/scoped_handle.h"

namespace {

using tallow::Error;
using tallow::Result;
using tallow::platform::win32::ScopedHandle;

constexpr wchar_t kControlClass[] = L"tallowmereTrayControl";
constexpr wchar_t kTrayProgram[] = L"tallowmere-tray.exe";
// In the installing user's temporary directory, which both runs of a package share.
constexpr wchar_t kMarkerName[] = L"tallowmere-tray-ended";
// The tray gives its agent 20 seconds to stop before ending it, then exits itself; the
// NSIS installer waits as long.
constexpr DWORD kEndLimitMs = 30000;
// The control window only notes the request, so a working tray answers at once.
constexpr UINT kReplyLimitMs = 5000;
constexpr DWORD kPollMs = 250;

enum Status { kDone = 0, kStillRunning = 1, kFailed = 2 };

struct Tray {
  HWND window;
  DWORD pid;
  ScopedHandle process;
};

bool same_path(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

// The directory's full, long form without a trailing backslash. Windows Installer hands
// over "[INSTALLDIR]." (a path ending in a backslash would escape the closing quote).
Result<std::wstring> full_directory(const wchar_t* given) {
  wchar_t full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameW(given, MAX_PATH * 4, full, nullptr);
  if (length == 0 || length >= MAX_PATH * 4) return Error{"not a directory path"};
  std::wstring path = full;
  wchar_t long_form[MAX_PATH * 4];
  const DWORD long_length = GetLongPathNameW(full, long_form, MAX_PATH * 4);
  if (long_length > 0 && long_length < MAX_PATH * 4) path = long_form;  // only when it exists
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

std::wstring directory_of(const std::wstring& program) {
  const std::size_t slash = program.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : program.substr(0, slash);
}

std::wstring marker_path() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(temp) + kMarkerName;
}

// The trays of this session whose program lies in `directory`. A tray that cannot be
// looked at is not this installation's to end.
std::vector<Tray> trays_running_from(const std::wstring& directory) {
  struct Search {
    const std::wstring* directory;
    std::vector<Tray> found;
  } search{&directory, {}};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& search = *reinterpret_cast<Search*>(context);
        wchar_t name[64];
        if (GetClassNameW(window, name, 64) == 0 || std::wcscmp(name, kControlClass) != 0) return TRUE;
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        ScopedHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        if (!process) return TRUE;
        wchar_t program[MAX_PATH * 4];
        DWORD length = MAX_PATH * 4;
        if (!QueryFullProcessImageNameW(process.get(), 0, program, &length)) return TRUE;
        if (same_path(directory_of(program), *search.directory)) {
          search.found.push_back({window, pid, std::move(process)});
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return std::move(search.found);
}

// Whether the program file can be replaced: nobody runs it any more.
bool writable(const std::wstring& file) {
  ScopedHandle handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return handle.valid() || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Asks each tray to end, then waits for all of them and for the program file, up to one
// limit counted from the requests.
Result<int> end_trays(const std::wstring& directory) {
  std::vector<Tray> trays = trays_running_from(directory);
  if (trays.empty()) return 0;
  for (const Tray& tray : trays) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(tray.window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kReplyLimitMs, &ignored);
  }
  const ULONGLONG deadline = GetTickCount64() + kEndLimitMs;
  const auto remaining = [&] {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? DWORD{0} : static_cast<DWORD>(deadline - now);
  };
  for (const Tray& tray : trays) {
    if (WaitForSingleObject(tray.process.get(), remaining()) != WAIT_OBJECT_0) {
      return Error{"tallowmered (process " + std::to_string(tray.pid) + ") did not end within 30 seconds"};
    }
  }
  const std::wstring program = directory + L"\\" + kTrayProgram;
  while (!writable(program)) {
    if (remaining() == 0) return Error{"tallowmere-tray.exe is still in use after 30 seconds"};
    Sleep(kPollMs);
  }
  return static_cast<int>(trays.size());
}

Result<void> start_tray(const std::wstring& directory) {
  std::wstring program = directory + L"\\" + kTrayProgram;
  std::wstring command_line = L"\"" + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  // Out of any job the installer runs its actions in, so that the tray outlives it; a
  // job that allows no breaking away keeps it.
  for (const DWORD flags : {DWORD{CREATE_BREAKAWAY_FROM_JOB}, DWORD{0}}) {
    if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                       directory.c_str(), &startup, &started)) {
      CloseHandle(started.hThread);
      CloseHandle(started.hProcess);
      return {};
    }
  }
  return Error{"the tray could not be started"};
}

int report(const Error& error, int status) {
  // Seen when run by hand; Windows Installer shows its own message (the Error table).
  std::fprintf(stderr, "end_running_trays: %s\n", error.message.c_str());
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc == 3 ? argv[1] : L"";
  if (argc < 2 || argc > 3 || (argc == 3 && mode != L"--remember" && mode != L"--start-again")) {
    return report(Error{"usage: end_running_trays [--remember | --start-again] DIRECTORY"}, kFailed);
  }
  const Result<std::wstring> directory = full_directory(argv[argc - 1]);
  if (!directory) return report(directory.error(), kFailed);
  const std::wstring marker = marker_path();

  if (mode == L"--start-again") {
    if (marker.empty() || !DeleteFileW(marker.c_str())) return kDone;  // none was ended
    const Result<void> started = start_tray(directory.value());
    return started ? kDone : report(started.error(), kFailed);
  }

  // A marker left by an installation that failed later must not start a tray now.
  if (mode == L"--remember" && !marker.empty()) DeleteFileW(marker.c_str());
  const Result<int> ended = end_trays(directory.value());
  if (!ended) return report(ended.error(), kStillRunning);
  if (mode == L"--remember" && ended.value() > 0) {
    ScopedHandle file(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return report(Error{"cannot note the ended tray in the temporary directory"}, kFailed);
  }
  return kDone;
}
