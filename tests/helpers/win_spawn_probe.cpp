// A child for the contained-start tests: it reports what it was started with, ends
// with a chosen exit code, waits for the stop request, or starts a child of its own.
//
//   win_spawn_probe exit CODE          ends with CODE (decimal or 0x hex, all 32 bits)
//   win_spawn_probe report FILE ARG... writes its arguments, working directory, the
//                                      variable TALLOW_PROBE and the byte count of its
//                                      standard input to FILE as JSON; prints
//                                      "probe-out" on stdout and "probe-err" on stderr
//   win_spawn_probe wait               ends with 3 on the stop request
//   win_spawn_probe family FILE        starts "wait" detached, writes its pid to FILE, waits
//   win_spawn_probe await GO DONE      once GO exists writes DONE, then ends with 0

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/arguments.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "agent_side/agent_side.h"
#include "platform/process.h"

namespace {

namespace platform = tallow::platform;
using namespace std::chrono_literals;

int wait_for_stop_request() {
  auto stop_request = tallow::agent_side::stop_request_event();
  if (!stop_request) return 2;
  for (;;) {
    if (stop_request.value()->wait_for(1h)) return 3;
  }
}

int report(const std::filesystem::path& file, const std::vector<std::string>& arguments) {
  std::size_t input_bytes = 0;
  char buffer[256];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof(buffer), stdin)) > 0;) {
    input_bytes += got;
  }
  // Flushed one by one, so the shared log holds them in this order.
  std::fputs("probe-out\n", stdout);
  std::fflush(stdout);
  std::fputs("probe-err\n", stderr);
  std::fflush(stderr);

  std::error_code error;
  nlohmann::json document = {
      {"args", arguments},
      {"cwd", platform::path_text(std::filesystem::current_path(error))},
      {"stdin_bytes", input_bytes},
  };
  const auto probe = platform::environment_variable("TALLOW_PROBE");
  document["probe"] = probe ? nlohmann::json(*probe) : nlohmann::json();
  return tallow::agent_side::replace_file_atomically(file, document.dump()) ? 0 : 2;
}

int family(const std::filesystem::path& pid_file) {
  const auto self = platform::executable_path();
  if (!self) return 2;
  const auto child = tallow::agent_side::spawn_detached(*self, {"wait"});
  if (!child) return 2;
  if (!tallow::agent_side::replace_file_atomically(pid_file, std::to_string(child.value()))) return 2;
  return wait_for_stop_request();
}

int await(const std::filesystem::path& go, const std::filesystem::path& done) {
  std::error_code error;
  while (!std::filesystem::exists(go, error)) std::this_thread::sleep_for(5ms);
  return tallow::agent_side::replace_file_atomically(done, "done") ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = platform::command_line_arguments(argc, argv);
  const auto path = [&](std::size_t i) { return platform::path_from_text(args.at(i)); };
  const std::string mode = args.empty() ? "" : args[0];
  if (mode == "exit" && args.size() == 2) {
    return static_cast<int>(std::strtoul(args[1].c_str(), nullptr, 0));
  }
  if (mode == "report" && args.size() >= 2) {
    return report(path(1), std::vector<std::string>(args.begin() + 2, args.end()));
  }
  if (mode == "wait" && args.size() == 1) return wait_for_stop_request();
  if (mode == "family" && args.size() == 2) return family(path(1));
  if (mode == "await" && args.size() == 3) return await(path(1), path(2));
  std::fputs("usage: win_spawn_probe exit|report|wait|family|await ...\n", stderr);
  return 64;
}
