// A stand-in for the agent, for tests and for trying the tray out. It keeps the
// agent's side of the contract: the one "--state-directory=" argument, the lock on
// tallowmered.lock while it runs, status.json with its own pid and hub connection,
// output on stdout and stderr, a clean end on the stop request, and the
// "enroll CODE --hub=URL" subcommand that writes config.json.
//
// Misbehaviours are switched on by environment variables (an env file may set them):
//   TALLOWMERED_IGNORE_STOP=1         ignore the stop request
//   TALLOWMERED_EXIT_AFTER_MS=N       end by itself after N ms ...
//   TALLOWMERED_EXIT_CODE=C           ... with exit code C (decimal or 0x hex; default 0)
//   TALLOWMERED_SIGNAL=S              ... by raising signal S instead
//   TALLOWMERED_CONFIRM=never|late    never write status.json, or write it late ...
//   TALLOWMERED_CONFIRM_AFTER_MS=N    ... after N ms (default 1500)
//   TALLOWMERED_CONNECTED=true|false|absent   what status.json says of the hub (default true)
//   TALLOWMERED_GRANDCHILD=1          start a child of its own, pid in grandchild.pid
//                                     (the agent, and "enroll" too)
//   TALLOWMERED_OUTPUT=TEXT           write TEXT to stdout and to stderr at start
//   TALLOWMERED_LOG_EVERY_MS=N        write a line to stdout every N ms while it runs
//   TALLOWMERED_ENROLL_EXIT_CODE=C    exit code of "enroll" (default 0)
//   TALLOWMERED_ENROLL_OUTPUT=BYTES   what "enroll" writes to stdout (default a greeting)
//   TALLOWMERED_ENROLL_ERROR=BYTES    what "enroll" writes to stderr (default nothing)
//                                     Exactly these bytes, with "\n", "\\" and "\xHH"
//                                     decoded (Windows writes "\n" as "\r\n"); "-" for
//                                     none at all, since Windows cannot keep a variable empty
//   TALLOWMERED_ENROLL_FLOOD=N        "enroll" first writes N bytes to stdout and N to
//                                     stderr, alternating in 64 KiB pieces; byte i of
//                                     each stream is '!' + i % 89
//   TALLOWMERED_ENROLL_STDIN=1        "enroll" first reads stdin to its end and writes
//                                     "stdin: N bytes" to stdout
//   TALLOWMERED_ENROLL_HANG=1         "enroll" never ends (after writing its output)
// Every run records its arguments, working directory and environment in launch.json.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/text.h"
#include "platform/arguments.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "agent_side/agent_side.h"
#include "platform/process.h"

namespace {

namespace platform = tallow::platform;
namespace agent_side = tallow::agent_side;
using namespace std::chrono_literals;

std::string setting(const char* name, const std::string& fallback = "") {
  return platform::environment_variable(name).value_or(fallback);
}

std::uint32_t numeric_setting(const char* name, std::uint32_t fallback) {
  const std::string text = setting(name);
  if (text.empty()) return fallback;
  return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

void say(std::FILE* stream, const std::string& text) {
  std::fputs((text + "\n").c_str(), stream);
  std::fflush(stream);
}

bool write_json(const std::filesystem::path& path, const nlohmann::json& document) {
  // A state directory whose name is not UTF-8 shows up in the recorded arguments.
  const std::string text = document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (auto written = agent_side::replace_file_atomically(path, text); !written) {
    say(stderr, "tallowmered: cannot write " + platform::path_text(path) + ": " +
                    written.error().message);
    return false;
  }
  return true;
}

void record_launch(const std::filesystem::path& state_directory, const std::vector<std::string>& args) {
  nlohmann::json environment = nlohmann::json::object();
  for (const auto& variable : platform::environment_with({})) {
    environment[tallow::sanitize_utf8(variable.name)] = tallow::sanitize_utf8(variable.value);
  }
  std::error_code error;
  const auto cwd = std::filesystem::current_path(error);
  write_json(state_directory / "launch.json",
             {{"pid", platform::current_process_id()},
              {"args", args},
              {"cwd", platform::path_text(cwd)},
              {"environment", environment}});
}

[[noreturn]] void end_with(std::uint32_t exit_code) {
  std::fflush(nullptr);
  std::exit(static_cast<int>(exit_code));
}

void start_grandchild(const std::filesystem::path& state_directory) {
  const auto self = platform::executable_path();
  auto grandchild = agent_side::spawn_detached(self.value_or("tallowmered"), {"--grandchild"});
  if (grandchild) {
    (void)agent_side::replace_file_atomically(state_directory / "grandchild.pid",
                                            std::to_string(grandchild.value()));
  } else {
    say(stderr, "tallowmered: no grandchild: " + grandchild.error().message);
  }
}

// The text with "\n", "\\" and "\xHH" decoded, so that a setting can name any bytes.
std::string unescape(const std::string& text) {
  std::string bytes;
  if (text == "-") return bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
    } else if (text[i + 1] == 'n') {
      bytes += '\n';
      ++i;
    } else if (text[i + 1] == 'x' && i + 3 < text.size()) {
      bytes += static_cast<char>(std::strtoul(text.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
    } else {
      bytes += text[++i];
    }
  }
  return bytes;
}

void write_bytes(std::FILE* stream, const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

// Both streams at once, so a reader that waits for one while the other fills up hangs.
void flood(std::size_t count) {
  constexpr std::size_t kPiece = 64 * 1024;
  std::string piece;
  for (std::size_t done = 0; done < count; done += piece.size()) {
    piece.clear();
    for (std::size_t i = done; i < count && i < done + kPiece; ++i) {
      piece += static_cast<char>('!' + i % 89);
    }
    write_bytes(stdout, piece);
    write_bytes(stderr, piece);
  }
}

int run_enroll(const std::filesystem::path& state_directory, const std::vector<std::string>& rest) {
  std::string code, hub;
  for (const std::string& arg : rest) {
    if (arg.rfind("--hub=", 0) == 0) {
      hub = arg.substr(6);
    } else if (code.empty()) {
      code = arg;
    }
  }
  if (setting("TALLOWMERED_GRANDCHILD") == "1") start_grandchild(state_directory);
  if (setting("TALLOWMERED_ENROLL_STDIN") == "1") {
    std::size_t count = 0;
    while (std::fgetc(stdin) != EOF) ++count;
    write_bytes(stdout, "stdin: " + std::to_string(count) + " bytes");
  }
  flood(numeric_setting("TALLOWMERED_ENROLL_FLOOD", 0));
  const auto output = platform::environment_variable("TALLOWMERED_ENROLL_OUTPUT");
  write_bytes(stdout, output ? unescape(*output) : "Enrolled with " + hub + ".\n");
  write_bytes(stderr, unescape(setting("TALLOWMERED_ENROLL_ERROR")));
  if (setting("TALLOWMERED_ENROLL_HANG") == "1") {
    for (;;) std::this_thread::sleep_for(1h);
  }
  const std::uint32_t exit_code = numeric_setting("TALLOWMERED_ENROLL_EXIT_CODE", 0);
  if (exit_code == 0) {
    if (auto created = platform::create_directories(state_directory); created) {
      write_json(state_directory / "config.json", {{"hub", {{"url", hub}}}, {"code", code}});
    }
  }
  end_with(exit_code);
}

bool write_status(const std::filesystem::path& state_directory) {
  nlohmann::json status = {{"pid", platform::current_process_id()}};
  const std::string connected = setting("TALLOWMERED_CONNECTED", "true");
  if (connected == "true" || connected == "false") status["hub"] = {{"connected", connected == "true"}};
  return write_json(state_directory / "status.json", status);
}

int run_agent(const std::filesystem::path& state_directory) {
  auto stop_request = agent_side::stop_request_event();
  if (!stop_request) {
    say(stderr, "tallowmered: " + stop_request.error().message);
    return 1;
  }
  auto lock = agent_side::lock_file_exclusively(state_directory / "tallowmered.lock");
  if (!lock) {
    say(stderr, "tallowmered: another agent holds this state directory: " + lock.error().message);
    return 3;
  }
  const std::uint32_t pid = platform::current_process_id();
  say(stdout, "tallowmered " + std::to_string(pid) + ": started");
  if (const std::string output = setting("TALLOWMERED_OUTPUT"); !output.empty()) {
    say(stdout, output);
    say(stderr, output);
  }
  if (setting("TALLOWMERED_GRANDCHILD") == "1") start_grandchild(state_directory);

  const auto started = std::chrono::steady_clock::now();
  const std::string confirm = setting("TALLOWMERED_CONFIRM", "now");
  std::optional<std::chrono::steady_clock::time_point> confirm_at;
  if (confirm == "now") confirm_at = started;
  if (confirm == "late") confirm_at = started + std::chrono::milliseconds(numeric_setting("TALLOWMERED_CONFIRM_AFTER_MS", 1500));
  std::optional<std::chrono::steady_clock::time_point> exit_at;
  if (!setting("TALLOWMERED_EXIT_AFTER_MS").empty()) {
    exit_at = started + std::chrono::milliseconds(numeric_setting("TALLOWMERED_EXIT_AFTER_MS", 0));
  }
  const bool ignore_stop = setting("TALLOWMERED_IGNORE_STOP") == "1";
  const std::chrono::milliseconds log_every(numeric_setting("TALLOWMERED_LOG_EVERY_MS", 0));
  auto next_line = started;
  std::uint64_t lines = 0;

  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (log_every.count() > 0 && now >= next_line) {
      say(stdout, "tallowmered " + std::to_string(pid) + ": line " + std::to_string(++lines));
      next_line += log_every;
    }
    // A reader holding the file open can make a replace fail; try again next round.
    if (confirm_at && now >= *confirm_at && write_status(state_directory)) confirm_at.reset();
    if (exit_at && now >= *exit_at) {
      say(stdout, "tallowmered " + std::to_string(pid) + ": ending by itself");
      if (const std::string signal = setting("TALLOWMERED_SIGNAL"); !signal.empty()) {
        std::fflush(nullptr);
        std::raise(std::atoi(signal.c_str()));
      }
      end_with(numeric_setting("TALLOWMERED_EXIT_CODE", 0));
    }
    const auto pause = log_every.count() > 0 ? std::min<std::chrono::milliseconds>(20ms, log_every) : 20ms;
    if (stop_request.value()->wait_for(pause) && !ignore_stop) {
      say(stdout, "tallowmered " + std::to_string(pid) + ": stop requested, ending");
      return 0;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = platform::command_line_arguments(argc, argv);
  if (args.size() == 1 && args[0] == "--grandchild") {
    auto stop_request = agent_side::stop_request_event();
    for (;;) {
      if (stop_request && stop_request.value()->wait_for(1h)) return 0;
      if (!stop_request) std::this_thread::sleep_for(1h);
    }
  }
  if (args.empty() || args[0].rfind("--state-directory=", 0) != 0) {
    say(stderr, "usage: tallowmered --state-directory=DIR [enroll CODE --hub=URL]");
    return 2;
  }
  const std::filesystem::path state_directory = platform::path_from_text(args[0].substr(18));
  std::error_code error;
  if (std::filesystem::is_directory(state_directory, error)) record_launch(state_directory, args);
  if (args.size() >= 2 && args[1] == "enroll") {
    return run_enroll(state_directory, {args.begin() + 2, args.end()});
  }
  return run_agent(state_directory);
}
