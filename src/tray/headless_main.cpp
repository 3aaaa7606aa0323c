// Until the notification-area user interface lands, the tray runs headless: the
// tray's own event loop over a host without windows, which prints every change of
// status and hub and turns Ctrl+C, SIGTERM or a console close into a close request.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "daemon/supervisor.h"
#include "platform/environment.h"
#include "tray/supervisor_agent.h"
#include "tray/tray_controller.h"

namespace {

using namespace tallow;

void print_line(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// A desktop with no windows, no menu to pick from and no icon to paint.
class HeadlessHost final : public TrayHost {
 public:
  explicit HeadlessHost(std::shared_ptr<platform::Notification> stop_request)
      : stop_request_(std::move(stop_request)) {}

  bool drain_messages() override { return true; }
  std::optional<std::string> next_command() override { return std::nullopt; }
  bool close_requested() override { return stop_request_->is_raised(); }
  void wait_for_input(std::chrono::milliseconds limit) override {
    // The stop request stays raised once seen, so while quitting only the pace remains.
    if (stop_request_->is_raised()) {
      std::this_thread::sleep_for(limit);
    } else {
      stop_request_->wait_for(limit);
    }
  }

  // The menu's first entries are the status and, with a hub URL, the hub item.
  void set_menu(const TrayMenu& menu) override {
    std::string line = "tallowmered: " + menu.at(0).text;
    if (menu.at(1).kind == MenuEntry::Kind::text) line += " | " + menu[1].text;
    print_line(line);
  }
  Result<void> set_icon(const platform::IconImage&) override { return {}; }
  Result<void> set_tooltip(std::string_view) override { return {}; }

  void show_message(std::string_view caption, std::string_view text, bool) override {
    print_line(std::string(caption) + ": " + std::string(text));
  }
  void open_with_shell(std::string_view target) override { print_line("open: " + std::string(target)); }
  std::optional<std::string> ask_text(std::string_view, std::string_view, std::string_view,
                                      std::string_view) override {
    return std::nullopt;
  }

  bool launch_at_login() override { return false; }
  Result<void> toggle_launch_at_login() override {
    return Error{"Launch at Login needs the notification-area interface."};
  }
  bool light_theme() override { return false; }

 private:
  std::shared_ptr<platform::Notification> stop_request_;
};

}  // namespace

int main() {
  auto stop_request = platform::stop_request_notification();
  auto runtime = TaskRuntime::create();
  if (!runtime || !stop_request) {
    std::fprintf(stderr, "tallowmere-tray: the task runtime failed to start\n");
    return 101;
  }
  print_line("tallowmere-tray: the notification-area interface is not built yet; running headless.");
  const Supervisor supervisor = Supervisor::create(runtime.value());
  print_line("state directory: " + platform::path_text(supervisor.state_directory()));
  print_line("agent: " + platform::path_text(supervisor.agent_path()));

  HeadlessHost host(stop_request.value());
  // Headless, nothing can ask for an enrollment: there is no menu to pick it from.
  SupervisorAgent agent(supervisor, [](const Supervisor&, const std::string&, const std::string&) {
    print_line("enrollment needs the notification-area interface");
  });
  TrayController controller(host, agent, [](const AgentStatus&, bool) { return platform::IconImage{}; });
  host.set_menu(controller.first_look().menu);
  supervisor.start();
  controller.run();
  runtime.value()->shutdown();
  return 0;
}
