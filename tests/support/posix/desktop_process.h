#pragma once
// Programs the desktop tests run under the X display: the tray itself, panels, and the
// X tools that type, click and take screenshots.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tallow::test {

using Environment = std::vector<std::pair<std::string, std::string>>;

// A child process with this process's environment plus `overrides`; ended (SIGTERM, then
// SIGKILL) on destruction if it still runs.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const Environment& overrides,
               const std::filesystem::path& output = "/dev/null");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  bool started() const { return pid_ > 0; }
  bool signal(int number) const;
  // The exit status (128 + the signal for a signalled end), or none within `limit`.
  std::optional<int> wait_for_exit(std::chrono::milliseconds limit);

 private:
  int pid_ = -1;
  std::optional<int> status_;
};

// wait_until for conditions that ask the X server: a pause between tries, so a loaded
// server is not flooded with connections (it refuses new ones, our programs' among them,
// when it cannot take them as fast as they come).
bool wait_for_x(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(20));

// Whether a program is on PATH.
bool has_program(const std::string& name);

// Runs a shell command line; its standard output, or none when it failed.
std::optional<std::string> run_command(const std::string& command_line);

// The X display of the test run, or empty without one.
std::string x_display();

// Where screenshots of this run go: <build>/screenshots.
std::filesystem::path screenshot_directory();

// A screenshot into screenshot_directory()/<name>.png: the whole screen, or the area
// `geometry` ("WxH+X+Y"); its path.
std::optional<std::filesystem::path> take_screenshot(const std::string& name, const std::string& geometry = "");

// Runs `xdotool` with `arguments`; false when it failed.
bool xdotool(const std::string& arguments);

// Top-level windows on the screen, for telling when a menu has opened.
std::size_t top_level_windows();

// Whether `name` has an owner on the bus at `address`.
bool bus_name_has_owner(const std::string& address, const std::string& name);

// The unique name of the connection process `pid` has on the bus at `address`.
std::optional<std::string> bus_name_of_process(const std::string& address, int pid);

// The first visible window whose title is exactly `title`, waited for up to `limit`.
std::optional<std::string> find_window(const std::string& title,
                                       std::chrono::milliseconds limit = std::chrono::seconds(20));

// Whether a process is alive (and not a zombie of ours).
bool process_alive(int pid);

}  // namespace tallow::test
