#include "support/win32/remote_probe.h"

#include <tlhelp32.h>

#include <filesystem>
#include <mutex>

#include "platform/win32/scoped_handle.h"
#include "support/test_support.h"

namespace tallow::test::win32 {
namespace {

using platform::win32::ScopedHandle;
using namespace std::chrono_literals;

constexpr wchar_t kProbeName[] = L"tallow_window_probe.dll";

std::filesystem::path probe_path() {
  return program_path("tallowmered").parent_path() / kProbeName;
}

// The probe loaded here too, so that its exports' offsets can be read off.
HMODULE local_probe() {
  static const HMODULE module = LoadLibraryW(probe_path().c_str());
  return module;
}

// Where the module `name` starts in process `process_id`, or null.
std::uintptr_t remote_module_base(DWORD process_id, const wchar_t* name) {
  const ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process_id));
  if (!snapshot) return 0;
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32FirstW(snapshot.get(), &entry); more;
       more = Module32NextW(snapshot.get(), &entry)) {
    if (lstrcmpiW(entry.szModule, name) == 0) return reinterpret_cast<std::uintptr_t>(entry.modBaseAddr);
  }
  return 0;
}

// `function` of the module `local` as it lies in the other process.
std::uintptr_t remote_address(DWORD process_id, HMODULE local, const wchar_t* name, FARPROC function) {
  const std::uintptr_t base = remote_module_base(process_id, name);
  if (base == 0 || local == nullptr || function == nullptr) return 0;
  return base + (reinterpret_cast<std::uintptr_t>(function) - reinterpret_cast<std::uintptr_t>(local));
}

// Runs `start` in the other process with a copy of `argument`; its exit code, or none.
std::optional<DWORD> run_remote(HANDLE process, std::uintptr_t start, const std::wstring& argument) {
  if (start == 0) return std::nullopt;
  const std::size_t bytes = (argument.size() + 1) * sizeof(wchar_t);
  void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote == nullptr) return std::nullopt;
  std::optional<DWORD> result;
  if (WriteProcessMemory(process, remote, argument.c_str(), bytes, nullptr)) {
    const ScopedHandle thread(CreateRemoteThread(process, nullptr, 0,
                                                 reinterpret_cast<LPTHREAD_START_ROUTINE>(start),
                                                 remote, 0, nullptr));
    DWORD code = 0;
    if (thread && WaitForSingleObject(thread.get(), 20000) == WAIT_OBJECT_0 &&
        GetExitCodeThread(thread.get(), &code)) {
      result = code;
    }
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return result;
}

// Runs the probe's `function` inside `process_id`; what it wrote, or none.
std::optional<std::string> run_probe(DWORD process_id, const char* function) {
  const ScopedHandle process(OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                             PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ,
                                         FALSE, process_id));
  if (!process || local_probe() == nullptr) return std::nullopt;
  if (remote_module_base(process_id, kProbeName) == 0) {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const std::uintptr_t load = remote_address(process_id, kernel32, L"kernel32.dll",
                                               GetProcAddress(kernel32, "LoadLibraryW"));
    if (!run_remote(process.get(), load, probe_path().wstring())) return std::nullopt;
  }
  static std::mutex output_mutex;  // one output file for the whole test process
  const std::lock_guard lock(output_mutex);
  const std::filesystem::path output = std::filesystem::temp_directory_path() /
                                       ("tallow-probe-" + std::to_string(GetCurrentProcessId()));
  std::error_code error;
  std::filesystem::remove(output, error);
  const std::uintptr_t start = remote_address(process_id, local_probe(), kProbeName,
                                              GetProcAddress(local_probe(), function));
  const std::optional<DWORD> code = run_remote(process.get(), start, output.wstring());
  std::string text = read_file(output);
  std::filesystem::remove(output, error);
  if (code != DWORD{0}) return std::nullopt;
  return text;
}

}  // namespace

std::vector<ProbedMenuItem> parse_probed_menu(const std::string& lines) {
  std::vector<ProbedMenuItem> items;
  std::size_t start = 0;
  while (start < lines.size()) {
    std::size_t end = lines.find('\n', start);
    if (end == std::string::npos) end = lines.size();
    const std::string line = lines.substr(start, end - start);
    start = end + 1;
    if (line == "-") {
      items.push_back({shown_separator(), false});
      continue;
    }
    const std::size_t tab = line.find('\t');
    const std::string flags = line.substr(0, tab);
    const std::string label = tab == std::string::npos ? "" : line.substr(tab + 1);
    const auto has = [&](char flag) { return flags.find(flag) != std::string::npos; };
    items.push_back({shown_item(label, has('g'), has('c')), has('h')});
  }
  return items;
}

ShownMessageBox parse_probed_message_box(const std::string& text) {
  ShownMessageBox box;
  const std::size_t first = text.find('\n');
  const std::size_t second = first == std::string::npos ? first : text.find('\n', first + 1);
  box.icon = text.substr(0, first);
  if (first != std::string::npos) box.caption = text.substr(first + 1, second - first - 1);
  if (second != std::string::npos) box.text = text.substr(second + 1);
  return box;
}

std::optional<std::vector<ProbedMenuItem>> probe_open_menu(DWORD process_id) {
  const std::optional<std::string> lines = run_probe(process_id, "tallow_probe_menu");
  if (!lines) return std::nullopt;
  return parse_probed_menu(*lines);
}

std::optional<ShownMessageBox> probe_message_box(DWORD process_id) {
  const std::optional<std::string> text = run_probe(process_id, "tallow_probe_message_box");
  if (!text) return std::nullopt;
  return parse_probed_message_box(*text);
}

}  // namespace tallow::test::win32
