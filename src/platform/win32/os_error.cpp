#include "platform/os_error.h"

#include <windows.h>

#include <memory>
#include <string_view>

#include "common/text.h"
#include "platform/win32/wide_text.h"

namespace tallow::platform {
namespace {

struct LocalFreeDeleter {
  void operator()(wchar_t* buffer) const { LocalFree(buffer); }
};

// The system's message for `code`, or empty when it has none.
std::string system_message(std::uint32_t code) {
  wchar_t* raw = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalFreeDeleter> buffer(raw);
  if (length == 0 || !buffer) return {};
  const std::string text = win32::utf8_from_wide(std::wstring_view(buffer.get(), length));
  // Messages end in ".\r\n"; only that end goes, any leading text stays as written.
  const std::string_view trimmed = trim_white_space(text);
  if (trimmed.empty()) return {};
  return std::string(std::string_view(text).substr(0, trimmed.data() + trimmed.size() - text.data()));
}

}  // namespace

std::string os_error_text(std::uint32_t code) {
  std::string text = system_message(code);
  if (text.empty()) text = "Unknown error";
  return text + " (os error " + std::to_string(code) + ")";
}

Error last_os_error() { return os_error(GetLastError()); }

Error os_error(std::uint32_t code) { return Error{os_error_text(code)}; }

}  // namespace tallow::platform
