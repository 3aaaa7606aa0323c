#include "platform/autostart.h"

#include <windows.h>

#include "platform/environment.h"
#include "platform/os_error.h"
#include "platform/win32/kept_registry_key.h"
#include "platform/win32/wide_text.h"

namespace tallow::platform {
namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"tallowmere";

Result<void> from_status(LSTATUS status) {
  if (status != ERROR_SUCCESS) return os_error(static_cast<std::uint32_t>(status));
  return {};
}

}  // namespace

bool is_autostart_enabled() {
  // Read on every pass of the tray's loop.
  static win32::KeptRegistryKey run_key(kRunKey);
  return run_key.get_value(kValueName, RRF_RT_REG_SZ, nullptr, nullptr) == ERROR_SUCCESS;
}

Result<void> enable_autostart(const std::filesystem::path& program) {
  auto text = program_path_text(program);
  if (!text) return text.error();
  const std::wstring data = L"\"" + win32::wide_from_utf8(text.value()) + L"\"";
  // The terminating NUL is part of the data.
  const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  // Creates the Run key when it is missing.
  return from_status(RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName, REG_SZ, data.c_str(), bytes));
}

Result<void> disable_autostart() { return from_status(RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName)); }

struct AutostartWatch::Impl {};

AutostartWatch AutostartWatch::start() { return AutostartWatch(nullptr); }

AutostartWatch::AutostartWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
bool AutostartWatch::keep_watching() { return false; }
AutostartWatch::~AutostartWatch() = default;
AutostartWatch::AutostartWatch(AutostartWatch&&) noexcept = default;
AutostartWatch& AutostartWatch::operator=(AutostartWatch&&) noexcept = default;

}  // namespace tallow::platform
