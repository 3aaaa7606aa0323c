#include "support/posix/desktop_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "support/test_support.h"

extern char** environ;

namespace tallow::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Environment& overrides,
                           const std::filesystem::path& output) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text(*entry);
    const auto equals = text.find('=');
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : overrides) variables[name] = value;
  std::vector<std::string> env_text;
  for (const auto& [name, value] : variables) env_text.push_back(name + "=" + value);
  std::vector<char*> env_pointers;
  for (std::string& text : env_text) env_pointers.push_back(text.data());
  env_pointers.push_back(nullptr);
  std::vector<std::string> arguments = argv;
  std::vector<char*> arg_pointers;
  for (std::string& argument : arguments) arg_pointers.push_back(argument.data());
  arg_pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawnp(&pid, arg_pointers[0], &actions, nullptr, arg_pointers.data(), env_pointers.data()) == 0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0 || status_) return;
  ::kill(pid_, SIGTERM);
  if (!wait_for_exit(std::chrono::seconds(10))) {
    ::kill(pid_, SIGKILL);
    wait_for_exit(std::chrono::seconds(10));
  }
}

bool ChildProcess::signal(int number) const { return pid_ > 0 && !status_ && ::kill(pid_, number) == 0; }

std::optional<int> ChildProcess::wait_for_exit(std::chrono::milliseconds limit) {
  if (status_ || pid_ <= 0) return status_;
  wait_until(
      [&] {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      },
      limit);
  return status_;
}

bool wait_for_x(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  return wait_until(
      [&] {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return false;
      },
      limit);
}

bool has_program(const std::string& name) {
  return run_command("command -v " + name + " >/dev/null 2>&1").has_value();
}

std::optional<std::string> run_command(const std::string& command_line) {
  std::FILE* pipe = ::popen(command_line.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string output;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int status = ::pclose(pipe);
  if (status != 0) return std::nullopt;
  return output;
}

std::string x_display() {
  const char* display = std::getenv("DISPLAY");
  return display ? display : "";
}

std::filesystem::path screenshot_directory() {
  return program_path("tallowmere-tray").parent_path().parent_path() / "screenshots";
}

std::optional<std::filesystem::path> take_screenshot(const std::string& name, const std::string& geometry) {
  std::error_code error;
  std::filesystem::create_directories(screenshot_directory(), error);
  const auto path = screenshot_directory() / (name + ".png");
  const std::string crop = geometry.empty() ? "" : " -crop " + geometry + " +repage";
  if (!run_command("import -window root" + crop + " '" + path.string() + "' 2>/dev/null")) return std::nullopt;
  return path;
}

bool xdotool(const std::string& arguments) {
  return run_command("xdotool " + arguments + " >/dev/null 2>&1").has_value();
}

std::size_t top_level_windows() {
  const auto tree = run_command("xwininfo -root -children 2>/dev/null");
  if (!tree) return 0;
  std::size_t count = 0;
  for (std::size_t at = tree->find("\n     0x"); at != std::string::npos; at = tree->find("\n     0x", at + 1)) {
    ++count;
  }
  return count;
}

bool bus_name_has_owner(const std::string& address, const std::string& name) {
  const auto reply = run_command("dbus-send --bus='" + address +
                                 "' --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner string:" +
                                 name + " 2>/dev/null");
  return reply && reply->find("boolean true") != std::string::npos;
}

std::optional<std::string> bus_name_of_process(const std::string& address, int pid) {
  const std::string send = "dbus-send --bus='" + address + "' --print-reply --dest=org.freedesktop.DBus / ";
  const auto names = run_command(send + "org.freedesktop.DBus.ListNames 2>/dev/null");
  if (!names) return std::nullopt;
  // Unique names only: string ":1.42"
  for (std::size_t at = names->find("string \":"); at != std::string::npos; at = names->find("string \":", at + 1)) {
    const std::size_t begin = at + 8, end = names->find('"', begin);
    const std::string name = names->substr(begin, end - begin);
    const auto owner = run_command(send + "org.freedesktop.DBus.GetConnectionUnixProcessID string:" + name + " 2>/dev/null");
    if (owner && owner->find("uint32 " + std::to_string(pid) + "\n") != std::string::npos) return name;
  }
  return std::nullopt;
}

std::optional<std::string> find_window(const std::string& title, std::chrono::milliseconds limit) {
  std::optional<std::string> found;
  const auto search = [&] {
    auto output = run_command("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null");
    if (!output || output->empty()) return false;
    found = output->substr(0, output->find('\n'));
    return true;
  };
  if (limit.count() == 0) {
    search();
  } else {
    wait_for_x(search, limit);
  }
  return found;
}

bool process_alive(int pid) {
  if (pid <= 0 || ::kill(pid, 0) != 0) return false;
  // A zombie has ended; /proc tells it apart.
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

}  // namespace tallow::test
