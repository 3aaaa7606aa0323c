#include "platform/os_error.h"

#include <cerrno>
#include <cstring>

#include "common/text.h"

namespace tallow::platform {

std::string os_error_text(std::uint32_t code) {
  // strerrordesc_np gives the English text without touching the locale or a shared
  // buffer, so it is safe from any thread.
  const char* description = ::strerrordesc_np(static_cast<int>(code));
  std::string text = description ? description : "Unknown error";
  while (!text.empty()) {
    const auto last = static_cast<unsigned char>(text.back());
    if (last >= 0x80 || !is_white_space(last)) break;
    text.pop_back();
  }
  return text + " (os error " + std::to_string(code) + ")";
}

Error last_os_error() {
  const int code = errno;
  return os_error(static_cast<std::uint32_t>(code));
}

Error os_error(std::uint32_t code) { return Error{os_error_text(code)}; }

}  // namespace tallow::platform
