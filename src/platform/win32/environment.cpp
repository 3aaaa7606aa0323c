#include "platform/environment.h"

#include <windows.h>

#include <memory>

#include "common/text.h"
#include "platform/os_error.h"
#include "platform/win32/wide_text.h"

namespace tallow::platform {
namespace {

// A name that GetEnvironmentVariableW could match exactly. A leading "=" is allowed:
// the shell keeps per-drive directories as "=C:" and the like.
bool is_lookup_name(std::wstring_view name) {
  return !name.empty() && name.find(L'\0') == std::wstring_view::npos &&
         name.find(L'=', 1) == std::wstring_view::npos;
}

std::optional<std::wstring> wide_variable(std::string_view name) {
  const std::wstring wide_name = win32::wide_from_utf8(name);
  if (!is_lookup_name(wide_name)) return std::nullopt;
  std::wstring value(256, L'\0');
  for (;;) {
    // An empty value also gives 0, but leaves the last error alone.
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() != ERROR_SUCCESS) return std::nullopt;
      return std::wstring();
    }
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    // Too small: `length` is the size needed, terminator included. The variable
    // may grow meanwhile, hence the loop.
    value.resize(length);
  }
}

struct EnvironmentStringsDeleter {
  void operator()(wchar_t* block) const { FreeEnvironmentStringsW(block); }
};

}  // namespace

std::optional<std::string> environment_variable(std::string_view name) {
  const auto value = wide_variable(name);
  if (!value || win32::has_unpaired_surrogate(*value)) return std::nullopt;
  return win32::utf8_from_wide(*value);
}

std::optional<std::filesystem::path> environment_path(std::string_view name) {
  auto value = wide_variable(name);
  if (!value) return std::nullopt;
  return std::filesystem::path(std::move(*value));
}

std::vector<EnvironmentVariable> inherited_environment() {
  std::vector<EnvironmentVariable> inherited;
  const std::unique_ptr<wchar_t, EnvironmentStringsDeleter> block(GetEnvironmentStringsW());
  for (const wchar_t* entry = block.get(); entry && *entry;) {
    const std::wstring_view text(entry);
    entry += text.size() + 1;
    // Search from the second character so that "=C:=C:\dir" keeps its name "=C:".
    const std::size_t equals = text.find(L'=', 1);
    if (equals == std::wstring_view::npos) continue;
    inherited.push_back({win32::utf8_from_wide(text.substr(0, equals)), win32::utf8_from_wide(text.substr(equals + 1))});
  }
  return inherited;
}

std::string variable_key(std::string_view name) {
  std::wstring wide = win32::wide_from_utf8(name);
  if (!wide.empty()) {
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()), wide.data(),
                  static_cast<int>(wide.size()), nullptr, nullptr, 0);
  }
  return win32::utf8_from_wide(wide);
}

Result<std::filesystem::path> executable_path_or_error() {
  std::wstring buffer(512, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return last_os_error();
    // A full buffer means the name was cut short.
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(std::move(buffer));
    }
    // No path is longer than 32767 units, so this is never reached.
    if (buffer.size() >= 32768 * 2) return os_error(ERROR_INSUFFICIENT_BUFFER);
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::filesystem::path> executable_path() {
  auto path = executable_path_or_error();
  if (!path) return std::nullopt;
  return std::move(path).value();
}

std::string path_text(const std::filesystem::path& path) {
  return win32::utf8_from_wide(path.native());
}

std::string path_argument(const std::filesystem::path& path) { return path_text(path); }

std::filesystem::path path_from_text(std::string_view text) {
  return std::filesystem::path(win32::wide_from_utf8(text));
}

std::uint32_t current_process_id() { return GetCurrentProcessId(); }

std::string_view executable_suffix() { return ".exe"; }

}  // namespace tallow::platform
