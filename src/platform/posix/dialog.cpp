#include "platform/dialog.h"

namespace tallow::platform {

// No desktop dialog on Linux yet: the answer is that of a cancelled dialog.
std::optional<std::string> ask_text(std::string_view, std::string_view, std::string_view,
                                    std::string_view) {
  return std::nullopt;
}

}  // namespace tallow::platform
