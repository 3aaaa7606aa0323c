// One enrollment whose agent (the stand-in beside this program) writes N bytes to each
// of its output streams and then fails, so that the notice carries all of it and no
// agent is started after. For measuring the tray's side: run it under /usr/bin/time -v
// for the peak memory, once with N = 0 for the baseline.
//
//   enroll_flood N
//
// Prints the time from the start of the run to the notice, and the notice's length.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "agent/enrollment.h"
#include "platform/arguments.h"
#include "platform/environment.h"

int main(int argc, char** argv) {
  namespace platform = tallow::platform;
  const auto args = platform::command_line_arguments(argc, argv);
  if (args.size() != 1) {
    std::fputs("usage: enroll_flood N\n", stderr);
    return 64;
  }
  // Before any thread exists: the stand-in inherits these.
  static std::string flood = "TALLOWMERED_ENROLL_FLOOD=" + args[0];
  static std::string code = "TALLOWMERED_ENROLL_EXIT_CODE=1";
  ::putenv(flood.data());
  ::putenv(code.data());

  const auto self = platform::executable_path();
  const auto directory = std::filesystem::temp_directory_path() /
                         ("tallow-flood-" + std::to_string(platform::current_process_id()));
  std::filesystem::create_directories(directory);
  auto runtime = tallow::TaskRuntime::create();
  if (!runtime) return 1;
  tallow::SupervisorOptions options;
  options.state_directory = directory;
  options.agent_path =
      self->parent_path() / ("tallowmered" + std::string(platform::executable_suffix()));
  options.timings.refresh_interval = std::chrono::hours(1);
  const auto supervisor = tallow::Supervisor::create(runtime.value(), std::move(options));

  const auto started = std::chrono::steady_clock::now();
  tallow::run_enrollment(supervisor, "CODE", "https://hub.example/");
  std::optional<tallow::Notice> notice;
  while (!(notice = supervisor.take_notice()))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto elapsed =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started);
  std::printf("%s: %.0f ms, %zu bytes of text\n", notice->caption.c_str(), elapsed.count(),
              notice->text.size());
  runtime.value()->shutdown();
  std::filesystem::remove_all(directory);
  return 0;
}
