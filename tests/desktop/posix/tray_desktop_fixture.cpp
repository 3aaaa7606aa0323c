#include "desktop/posix/tray_desktop_fixture.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/notification_text.h"
#include "tray/menu_model.h"

namespace tallow::test {

void TrayDesktop::SetUp() {
  std::filesystem::create_directories(state_);
  std::filesystem::create_directories(runtime_);
  ::chmod(runtime_.c_str(), 0700);
  bus_ = std::make_unique<PrivateSessionBus>();
  ASSERT_FALSE(bus_->address().empty()) << "the private dbus-daemon did not start";
  watcher_ = std::make_unique<TestWatcher>(bus_->address());
  portal_ = std::make_unique<TestPortal>(bus_->address(), /*light=*/false);
}

Environment TrayDesktop::environment() const {
  return {{"DBUS_SESSION_BUS_ADDRESS", bus_->address()},
          {"XDG_RUNTIME_DIR", runtime_.string()},
          {"XDG_CONFIG_HOME", config_.string()},
          {"XDG_CACHE_HOME", (scratch_ / "cache").string()},
          {"XDG_STATE_HOME", (scratch_ / "state-home").string()},
          {"TALLOWMERE_STATE_DIRECTORY", state_.string()},
          {"TALLOWMERE_LISTEN", ""},
          // GTK's windows start without the accessibility bus or a settings daemon: on a
          // private bus those would be started on demand, slowly under load.
          {"NO_AT_BRIDGE", "1"},
          {"GTK_A11Y", "none"},
          {"GSETTINGS_BACKEND", "memory"}};
}

std::unique_ptr<ChildProcess> TrayDesktop::start_tray(const std::string& log_name, const Environment& extra) {
  Environment env = environment();
  env.insert(env.end(), extra.begin(), extra.end());
  auto tray = std::make_unique<ChildProcess>(std::vector<std::string>{program_path("tallowmere-tray").string()},
                                             env, scratch_ / log_name);
  EXPECT_TRUE(tray->started());
  return tray;
}

void TrayDesktop::write_config() const {
  write_file(state_ / "config.json", nlohmann::json{{"hub", {{"url", kHubUrl}}}}.dump());
}

void TrayDesktop::write_env(const std::string& text) const { write_file(state_ / "env", text); }

std::optional<std::string> TrayDesktop::registered_item(std::size_t n) {
  std::optional<std::string> name;
  wait_until([&] {
    const auto names = watcher_->registrations();
    if (names.size() < n) return false;
    name = names[n - 1];
    return true;
  });
  return name;
}

std::optional<std::vector<MenuRow>> TrayDesktop::rows(const std::string& item) const {
  auto menu = watcher_->menu(item);
  if (menu) {
    for (MenuRow& row : *menu) row.id = 0;
  }
  return menu;
}

bool TrayDesktop::wait_for_menu(const std::string& item, const TraySnapshot& snapshot) {
  const std::vector<MenuRow> expected = expected_rows(snapshot);
  std::optional<std::vector<MenuRow>> seen;
  if (wait_until([&] { return (seen = rows(item)) == expected; })) return true;
  ADD_FAILURE() << "menu of " << status_label(snapshot.status) << " expected:\n"
                << describe(expected) << "seen:\n"
                << describe(seen);
  return false;
}

bool TrayDesktop::click(const std::string& item, const std::string& label) const {
  const auto menu = watcher_->menu(item);
  if (!menu) return false;
  for (const MenuRow& row : *menu) {
    if (row.label == platform::underscore_label_text(label)) return watcher_->click(item, row.id);
  }
  ADD_FAILURE() << "no row \"" << label << "\" in\n" << describe(menu);
  return false;
}

int TrayDesktop::agent_pid() const {
  const auto status = nlohmann::json::parse(read_file(state_ / "status.json"), nullptr, false);
  return status.is_object() && status.contains("pid") && status["pid"].is_number() ? status["pid"].get<int>() : 0;
}

void TrayDesktop::write_status(int pid, bool connected) const {
  // Replaced whole, as the agent replaces it: a reader never sees half a file.
  write_file(state_ / "status.json.new", nlohmann::json{{"pid", pid}, {"hub", {{"connected", connected}}}}.dump());
  std::filesystem::rename(state_ / "status.json.new", state_ / "status.json");
}

int dialog_child_of(int parent) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    const auto comm_end = line.rfind(')');
    if (comm_end == std::string::npos || line.find("(tallowmere-dial") == std::string::npos) continue;
    std::istringstream rest(line.substr(comm_end + 2));
    char state = 0;
    int ppid = 0;
    if (rest >> state >> ppid && ppid == parent && state != 'Z') return std::stoi(entry.path().filename().string());
  }
  return 0;
}

std::vector<MenuRow> expected_rows(const TraySnapshot& snapshot) {
  std::vector<MenuRow> rows;
  for (const platform::MenuItem& entry : build_tray_menu(snapshot)) {
    MenuRow row;
    if (entry.kind == platform::MenuItem::Kind::separator) {
      row.type = "separator";
    } else {
      row.type = "standard";
      row.label = platform::underscore_label_text(entry.text);
      row.enabled = entry.enabled;
      if (entry.kind == platform::MenuItem::Kind::check) {
        row.toggle_type = "checkmark";
        row.toggle_state = entry.checked ? 1 : 0;
      }
    }
    rows.push_back(row);
  }
  return rows;
}

TraySnapshot snapshot_of(AgentStatus status, bool enrolled, bool launch_at_login) {
  TraySnapshot snapshot;
  snapshot.status = std::move(status);
  if (enrolled) snapshot.hub_url = kHubUrl;
  // The stand-in agent says it is connected; only a running agent's word counts.
  const auto kind = snapshot.status.kind();
  if (enrolled && (kind == AgentStatus::Kind::running || kind == AgentStatus::Kind::running_elsewhere)) {
    snapshot.hub_connected = true;
  }
  snapshot.launch_at_login = launch_at_login;
  return snapshot;
}

std::string describe(const std::optional<std::vector<MenuRow>>& rows) {
  if (!rows) return "  (no menu)\n";
  std::string text;
  for (const MenuRow& row : *rows) {
    text += "  " + row.type + " \"" + row.label + "\"" + (row.enabled ? "" : " disabled") +
            (row.toggle_type.empty() ? "" : " " + row.toggle_type + "=" + std::to_string(row.toggle_state)) + "\n";
  }
  return text;
}

}  // namespace tallow::test
