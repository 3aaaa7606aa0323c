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
  // Bytes from 0x80 up belong to a UTF-8 sequence, never to a space of their own.
  while (!text.empty() && static_cast<unsigned char>(text.back()) < 0x80 && is_white_space(text.back())) {
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
