#pragma once
// The real tray and the stand-in agent on a private session bus, watched by a test
// watcher, beside a desktop portal with a dark colour scheme, with a scratch state
// directory, runtime directory and configuration home.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/agent_status.h"
#include "support/posix/desktop_process.h"
#include "support/posix/session_bus_fixture.h"
#include "support/test_support.h"
#include "tray/tray_snapshot.h"

namespace tallow::test {

inline constexpr char kHubUrl[] = "https://hub.tallowmere.test/";

class TrayDesktop : public ::testing::Test {
 protected:
  void SetUp() override;

  // The variables every program of the test runs with.
  Environment environment() const;
  // Starts a tray; its output goes to <scratch>/<log_name>.
  std::unique_ptr<ChildProcess> start_tray(const std::string& log_name = "tray.log",
                                           const Environment& extra = {});
  void write_config() const;
  void write_env(const std::string& text) const;

  // The bus name of the n-th registration (from 1), waited for.
  std::optional<std::string> registered_item(std::size_t n = 1);
  // The item's menu rows with their ids cleared, for comparing with expected ones.
  std::optional<std::vector<MenuRow>> rows(const std::string& item) const;
  // Waits until the menu is the one for `snapshot`; fails the test otherwise.
  bool wait_for_menu(const std::string& item, const TraySnapshot& snapshot);
  // Clicks the row labelled `label`.
  bool click(const std::string& item, const std::string& label) const;
  // The pid in status.json, 0 when none.
  int agent_pid() const;
  // Writes status.json as the agent does: its pid, and the hub connection.
  void write_status(int pid, bool connected) const;

  TempDir scratch_{"tallow-desktop"};
  std::filesystem::path state_ = scratch_ / "state";
  std::filesystem::path runtime_ = scratch_ / "run";
  std::filesystem::path config_ = scratch_ / "config";
  std::unique_ptr<PrivateSessionBus> bus_;
  std::unique_ptr<TestWatcher> watcher_;
  std::unique_ptr<TestPortal> portal_;
};

// The pid of a tallowmere-dialog that `parent` started and that still runs; 0 for none.
int dialog_child_of(int parent);

// The rows a host reads for the menu of `snapshot`.
std::vector<MenuRow> expected_rows(const TraySnapshot& snapshot);
TraySnapshot snapshot_of(AgentStatus status, bool enrolled = true, bool launch_at_login = false);
std::string describe(const std::optional<std::vector<MenuRow>>& rows);

}  // namespace tallow::test
