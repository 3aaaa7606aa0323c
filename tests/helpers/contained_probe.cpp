// A stand-in agent for the contained-start tests on Linux. The tests look at it from
// outside (its /proc entries), so it opens nothing it does not need and keeps no
// descriptor open while idle.
//
//   contained_probe idle [READY]        writes its pid to READY, then idles
//   contained_probe exit CODE           ends with CODE
//   contained_probe crash               dies of SIGSEGV
//   contained_probe print               writes "probe-out" to stdout, "probe-err" to stderr
//   contained_probe family READY [exit] starts "idle READY.child" detached, waits for
//                                       it, writes "<own pid> <child pid>" to READY,
//                                       then idles, or ends with 0 given "exit"
//   contained_probe await_stop READY MARK CODE
//                                       writes its pid to READY; on the stop request
//                                       writes MARK and ends with CODE
//   contained_probe stop_family READY MARK CODE
//                                       like await_stop, with a detached group-mate
//                                       "await_stop READY.mate MARK.mate 0" started
//                                       first; READY holds "<own pid> <mate pid>", and
//                                       MARK is written once MARK.mate exists
//
// Every wait gives up after ten minutes, so a test that died early leaves nothing
// behind for long.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/arguments.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "agent_side/agent_side.h"
#include "platform/process.h"

namespace {

namespace platform = tallow::platform;
using namespace std::chrono_literals;

constexpr auto kGiveUp = 10min;

std::string own_pid() { return std::to_string(platform::current_process_id()); }

bool wait_for_file(const std::filesystem::path& path) {
  const auto deadline = std::chrono::steady_clock::now() + kGiveUp;
  std::error_code error;
  while (!std::filesystem::exists(path, error)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

int idle() {
  std::this_thread::sleep_for(kGiveUp);
  return 0;
}

std::filesystem::path with_suffix(const std::filesystem::path& path, const char* suffix) {
  return platform::path_from_text(platform::path_text(path) + suffix);
}

int family(const std::filesystem::path& ready, bool exit_at_once) {
  const auto self = platform::executable_path();
  if (!self) return 2;
  const auto child_ready = with_suffix(ready, ".child");
  const auto child = tallow::agent_side::spawn_detached(*self, {"idle", platform::path_text(child_ready)});
  if (!child || !wait_for_file(child_ready)) return 3;
  if (!tallow::agent_side::replace_file_atomically(ready, own_pid() + " " + std::to_string(child.value()))) {
    return 4;
  }
  return exit_at_once ? 0 : idle();
}

int await_stop(const std::filesystem::path& ready, const std::filesystem::path& mark, int code,
               const std::string& ready_text, const std::filesystem::path* mate_mark) {
  auto stop_request = tallow::agent_side::stop_request_event();
  if (!stop_request) return 2;
  if (!tallow::agent_side::replace_file_atomically(ready, ready_text)) return 4;
  if (!stop_request.value()->wait_for(kGiveUp)) return 5;
  // The keeper ends the whole family once this process has ended, so the mate must
  // have left its mark before.
  if (mate_mark && !wait_for_file(*mate_mark)) return 6;
  if (!tallow::agent_side::replace_file_atomically(mark, "stopped")) return 7;
  return code;
}

int stop_family(const std::filesystem::path& ready, const std::filesystem::path& mark, int code) {
  const auto self = platform::executable_path();
  if (!self) return 2;
  const auto mate_ready = with_suffix(ready, ".mate");
  const auto mate_mark = with_suffix(mark, ".mate");
  const auto mate = tallow::agent_side::spawn_detached(
      *self, {"await_stop", platform::path_text(mate_ready), platform::path_text(mate_mark), "0"});
  if (!mate || !wait_for_file(mate_ready)) return 3;
  return await_stop(ready, mark, code, own_pid() + " " + std::to_string(mate.value()), &mate_mark);
}

// Replaces its own program file as a package upgrade does (a new file renamed over the
// running one), then writes where it says it runs from.
int replaced_self(const std::filesystem::path& out) {
  const auto self = platform::executable_path();
  if (!self) return 2;
  const auto fresh = with_suffix(*self, ".new");
  std::error_code error;
  std::filesystem::copy_file(*self, fresh, error);
  if (!error) std::filesystem::rename(fresh, *self, error);
  if (error) return 3;
  const auto after = platform::executable_path();
  return after && tallow::agent_side::replace_file_atomically(out, platform::path_text(*after)) ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = platform::command_line_arguments(argc, argv);
  const auto path = [&](std::size_t i) { return platform::path_from_text(args.at(i)); };
  const std::string mode = args.empty() ? "" : args[0];
  if (mode == "idle" && args.size() <= 2) {
    if (args.size() == 2 && !tallow::agent_side::replace_file_atomically(path(1), own_pid())) return 4;
    return idle();
  }
  if (mode == "exit" && args.size() == 2) return std::atoi(args[1].c_str());
  if (mode == "crash" && args.size() == 1) {
    std::raise(SIGSEGV);
    return 2;
  }
  if (mode == "print" && args.size() == 1) {
    // Flushed one by one, so the shared log holds them in this order.
    std::fputs("probe-out\n", stdout);
    std::fflush(stdout);
    std::fputs("probe-err\n", stderr);
    std::fflush(stderr);
    return 0;
  }
  if (mode == "family" && (args.size() == 2 || (args.size() == 3 && args[2] == "exit"))) {
    return family(path(1), args.size() == 3);
  }
  if (mode == "await_stop" && args.size() == 4) {
    return await_stop(path(1), path(2), std::atoi(args[3].c_str()), own_pid(), nullptr);
  }
  if (mode == "replaced_self" && args.size() == 2) return replaced_self(path(1));
  if (mode == "stop_family" && args.size() == 4) {
    return stop_family(path(1), path(2), std::atoi(args[3].c_str()));
  }
  std::fputs("usage: contained_probe idle|exit|crash|print|family|await_stop|stop_family|replaced_self ...\n",
             stderr);
  return 64;
}
