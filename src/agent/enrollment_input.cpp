#include "agent/enrollment_input.h"

#include <vector>

#include "common/text.h"

namespace tallow {
namespace {

// The agent's own name, with or without a directory and ".exe" (any number of them).
bool names_agent_program(std::string_view token) {
  while (token.ends_with(".exe")) token.remove_suffix(4);
  return token.ends_with("tallowmered");
}

}  // namespace

std::optional<EnrollmentRequest> parse_enrollment_input(std::string_view text,
                                                        std::string_view default_hub) {
  const std::vector<std::string_view> tokens = split_white_space(text);
  std::string_view hub = default_hub;
  std::optional<std::string_view> code;

  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string_view token = tokens[i];
    if (token.starts_with("--hub=")) {
      hub = token.substr(6);
    } else if (token == "--hub") {
      if (i + 1 < tokens.size()) hub = tokens[++i];
    } else if (token.starts_with("-") || token == "enroll" || names_agent_program(token)) {
      // Other options, the subcommand and the program name are part of the pasted command.
    } else if (!code) {
      code = token;
    }
  }
  if (!code) return std::nullopt;
  return EnrollmentRequest{std::string(*code), std::string(hub)};
}

}  // namespace tallow
