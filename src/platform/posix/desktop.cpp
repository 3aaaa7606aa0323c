// Stand-ins until the Linux desktop port: a message goes to standard error, where a
// terminal or the session's journal keeps it, and nothing is opened.

#include "platform/desktop.h"

#include <cstdio>
#include <string>

namespace tallow::platform {

void show_message(std::string_view caption, std::string_view text, bool is_error) {
  const std::string line =
      std::string(is_error ? "error: " : "") + std::string(caption) + ": " + std::string(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void open_with_shell(std::string_view /*target*/) {}

}  // namespace tallow::platform
