// Loaded into the tray by bench/tray_latency.cpp: notes every change of icon or tooltip
// the tray hands the notification area, with the time before and after the call, by
// putting itself between the tray and its import of Shell_NotifyIconW. The entries go
// into a named shared record that the benchmark reads.

#include <windows.h>
#include <shellapi.h>

#include "notify_record.h"

namespace {

using ShellNotify = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAW);
ShellNotify original = nullptr;
NotifyRecord* record = nullptr;

BOOL WINAPI recorded(DWORD message, PNOTIFYICONDATAW data) {
  LARGE_INTEGER before, after;
  QueryPerformanceCounter(&before);
  const BOOL result = original(message, data);
  QueryPerformanceCounter(&after);
  const LONG count = record->count;
  if (message == NIM_MODIFY && data != nullptr && count < kNotifyRecordCapacity) {
    record->calls[count] = {data->uFlags, before.QuadPart, after.QuadPart};
    InterlockedExchange(&record->count, count + 1);
  }
  return result;
}

// Points the main module's import of Shell_NotifyIconW at `recorded`.
bool patch_import() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const auto target = reinterpret_cast<ULONG_PTR>(GetProcAddress(GetModuleHandleW(L"shell32.dll"), "Shell_NotifyIconW"));
  for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); module->Name != 0;
       ++module) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + module->Name), "shell32.dll") != 0) continue;
    for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk); slot->u1.Function != 0; ++slot) {
      if (slot->u1.Function != target) continue;
      DWORD protection = 0;
      VirtualProtect(&slot->u1.Function, sizeof(ULONG_PTR), PAGE_READWRITE, &protection);
      original = reinterpret_cast<ShellNotify>(target);
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(&recorded);
      VirtualProtect(&slot->u1.Function, sizeof(ULONG_PTR), protection, &protection);
      return true;
    }
  }
  return false;
}

}  // namespace

// Starts recording into the shared record named by the argument; 0 on success.
extern "C" __declspec(dllexport) DWORD WINAPI tallow_record_notify(void* record_name) {
  if (record != nullptr) return 0;
  const HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, static_cast<const wchar_t*>(record_name));
  if (mapping == nullptr) return 1;
  record = static_cast<NotifyRecord*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(NotifyRecord)));
  if (record == nullptr) return 2;
  return patch_import() ? 0 : 3;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
