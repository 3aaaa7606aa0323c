// A tray that starts the agent contained and exits at once, leaving the agent behind.
//
//   spawn_and_exit OUT LOG PROGRAM ARG...
//
// Starts PROGRAM with the arguments contained, its output appended to LOG, writes
// the agent's pid to OUT and ends with 0 without waiting for it. Non-zero when the
// start fails.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "agent_side/agent_side.h"
#include "platform/arguments.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  namespace platform = tallow::platform;
  const std::vector<std::string> args = platform::command_line_arguments(argc, argv);
  if (args.size() < 3) {
    std::fputs("usage: spawn_and_exit OUT LOG PROGRAM ARG...\n", stderr);
    return 64;
  }
  auto output = platform::open_log_for_append(platform::path_from_text(args[1]));
  if (!output) return 2;
  std::error_code error;
  platform::AgentCommand command{
      platform::path_from_text(args[2]),
      std::vector<std::string>(args.begin() + 3, args.end()),
      platform::environment_with({}),
      std::filesystem::current_path(error),
      std::move(output.value()),
  };
  auto child = platform::spawn_contained(std::move(command));
  if (!child) {
    std::fprintf(stderr, "spawn_and_exit: %s\n", child.error().message.c_str());
    return 3;
  }
  if (!tallow::agent_side::replace_file_atomically(platform::path_from_text(args[0]),
                                         std::to_string(child.value()->pid()))) {
    return 4;
  }
  return 0;
}
