#include "support/win32/remote_call.h"

#include <tlhelp32.h>

#include <cstdint>
#include <map>
#include <mutex>

#include "platform/win32/scoped_handle.h"

namespace tallow::test::win32 {
namespace {

using platform::win32::ScopedHandle;

// Where the module `name` starts in process `process_id`, or 0.
std::uintptr_t remote_module_base(DWORD process_id, const std::wstring& name) {
  const ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process_id));
  if (!snapshot) return 0;
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32FirstW(snapshot.get(), &entry); more; more = Module32NextW(snapshot.get(), &entry)) {
    if (lstrcmpiW(entry.szModule, name.c_str()) == 0) return reinterpret_cast<std::uintptr_t>(entry.modBaseAddr);
  }
  return 0;
}

// `function` of the module `local`, loaded here, as it lies in the other process: a
// DLL's code sits at the same offset from its base in every process.
std::uintptr_t remote_address(DWORD process_id, HMODULE local, const std::wstring& name, const char* function) {
  const FARPROC here = local != nullptr ? GetProcAddress(local, function) : nullptr;
  const std::uintptr_t base = remote_module_base(process_id, name);
  if (here == nullptr || base == 0) return 0;
  return base + (reinterpret_cast<std::uintptr_t>(here) - reinterpret_cast<std::uintptr_t>(local));
}

// Runs `start` in the other process with a copy of `argument`; its exit code, or none.
std::optional<DWORD> run_remote(HANDLE process, std::uintptr_t start, const std::wstring& argument, DWORD limit_ms) {
  if (start == 0) return std::nullopt;
  const std::size_t bytes = (argument.size() + 1) * sizeof(wchar_t);
  void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote == nullptr) return std::nullopt;
  std::optional<DWORD> result;
  if (WriteProcessMemory(process, remote, argument.c_str(), bytes, nullptr)) {
    const ScopedHandle thread(CreateRemoteThread(
        process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start), remote, 0, nullptr));
    DWORD code = 0;
    if (thread && WaitForSingleObject(thread.get(), limit_ms) == WAIT_OBJECT_0 &&
        GetExitCodeThread(thread.get(), &code)) {
      result = code;
    }
  }
  // A thread still running keeps its argument: freeing it would pull it away under it.
  if (result) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return result;
}

// The DLL loaded into this process as well, once per path.
HMODULE local_module(const std::filesystem::path& dll) {
  static std::mutex mutex;
  static std::map<std::filesystem::path, HMODULE> loaded;
  const std::lock_guard lock(mutex);
  auto [entry, added] = loaded.try_emplace(dll, nullptr);
  if (added) entry->second = LoadLibraryW(dll.c_str());
  return entry->second;
}

}  // namespace

std::optional<DWORD> call_in_process(DWORD process_id, const std::filesystem::path& dll, const char* function,
                                     const std::wstring& argument, DWORD limit_ms) {
  const ScopedHandle process(OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                             PROCESS_VM_WRITE | PROCESS_VM_READ,
                                         FALSE, process_id));
  const HMODULE local = local_module(dll);
  if (!process || local == nullptr) return std::nullopt;
  const std::wstring name = dll.filename().wstring();
  if (remote_module_base(process_id, name) == 0) {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const std::uintptr_t load = remote_address(process_id, kernel32, L"kernel32.dll", "LoadLibraryW");
    if (!run_remote(process.get(), load, dll.wstring(), limit_ms)) return std::nullopt;
  }
  return run_remote(process.get(), remote_address(process_id, local, name, function), argument, limit_ms);
}

}  // namespace tallow::test::win32
