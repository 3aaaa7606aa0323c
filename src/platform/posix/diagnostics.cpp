#include "platform/diagnostics.h"

#include <filesystem>

namespace tallow::platform {

std::size_t open_handle_count() {
  std::error_code error;
  std::size_t count = 0;
  for (std::filesystem::directory_iterator entry("/proc/self/fd", error), end; !error && entry != end;
       entry.increment(error)) {
    ++count;
  }
  // The iterator's own descriptor was open while counting.
  return count > 0 ? count - 1 : 0;
}

}  // namespace tallow::platform
