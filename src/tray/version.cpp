#include "tray/version.h"

#include <cstdio>
#include <string_view>

#include "tallow_version.h"

namespace tallow {

std::string version_line() { return std::string("tallowmere-tray ") + TALLOW_VERSION_TEXT; }

std::optional<int> answer_version_request(std::span<const char* const> arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == nullptr || std::string_view(arguments[i]) != "--version") continue;
    // A Windows GUI program usually has no standard output; writing then fails quietly.
    const std::string line = version_line() + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    return 0;
  }
  return std::nullopt;
}

}  // namespace tallow
