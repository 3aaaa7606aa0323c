#include "tray/version.h"

#include <cstdio>
#include <string_view>

#include "tallow_version.h"

namespace tallow {

std::string version_line() { return std::string("tallowmere-tray ") + TALLOW_VERSION_TEXT; }

std::optional<std::string> version_request_reply(std::span<const char* const> arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] != nullptr && std::string_view(arguments[i]) == "--version") {
      return version_line() + "\n";
    }
  }
  return std::nullopt;
}

std::optional<int> answer_version_request(std::span<const char* const> arguments) {
  const auto reply = version_request_reply(arguments);
  if (!reply) return std::nullopt;
  // A Windows GUI program usually has no standard output; writing then fails quietly.
  std::fputs(reply->c_str(), stdout);
  std::fflush(stdout);
  return 0;
}

}  // namespace tallow
