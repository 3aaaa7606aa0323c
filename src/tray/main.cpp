// Until the notification-area user interface lands, the tray runs headless: it
// supervises the agent exactly as the tray will, prints every status change and
// stops the agent when asked to end (Ctrl+C, SIGTERM, console close).

#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "daemon/supervisor.h"
#include "platform/environment.h"
#include "tray/menu_model.h"

namespace {

void print_line(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main() {
  using namespace tallow;
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
  supervisor.start();

  std::optional<TraySnapshot> shown;
  bool quitting = false;
  for (;;) {
    if (!quitting && stop_request.value()->is_raised()) {
      quitting = true;
      supervisor.stop();
    }
    // As the tray will: text is built only when what it shows has changed.
    TraySnapshot snapshot{supervisor.hub_url(), supervisor.status(), false, false,
                          supervisor.hub_connected()};
    if (snapshot != shown) {
      std::string line = "tallowmered: " + status_label(snapshot.status);
      // With a hub URL, the menu's second entry is the hub item.
      if (snapshot.hub_url) line += " | " + build_tray_menu(snapshot)[1].text;
      print_line(line);
      shown = std::move(snapshot);
    }
    if (quitting && !supervisor.has_child()) break;
    // The stop request stays raised once seen, so while quitting only the pace remains.
    if (quitting) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    } else {
      stop_request.value()->wait_for(std::chrono::milliseconds(200));
    }
  }
  runtime.value()->shutdown();
  return 0;
}
