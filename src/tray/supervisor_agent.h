#pragma once
// The tray's agent side over the real supervisor.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "daemon/supervisor.h"
#include "tray/tray_host.h"

namespace tallow {

// Runs an enrollment for a supervisor as a detached background task.
using EnrollmentRunner =
    std::function<void(const Supervisor& supervisor, const std::string& code, const std::string& hub)>;

// The agent side over the real supervisor; enrollment goes to the runner it is given.
class SupervisorAgent final : public TrayAgent {
 public:
  SupervisorAgent(Supervisor supervisor, EnrollmentRunner run_enrollment);

  void start() override { supervisor_.start(); }
  void stop() override { supervisor_.stop(); }
  void restart() override { supervisor_.restart(); }
  void enroll(const std::string& code, const std::string& hub) override;

  AgentStatus status() override { return supervisor_.status(); }
  std::optional<std::string> hub_url() override { return supervisor_.hub_url(); }
  std::optional<bool> hub_connected() override { return supervisor_.hub_connected(); }
  bool has_child() override { return supervisor_.has_child(); }
  std::optional<Notice> take_notice() override { return supervisor_.take_notice(); }

  std::filesystem::path state_directory() override { return supervisor_.state_directory(); }
  std::filesystem::path log_path() override { return supervisor_.log_path(); }

 private:
  Supervisor supervisor_;
  EnrollmentRunner run_enrollment_;
};

}  // namespace tallow
