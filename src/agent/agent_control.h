#pragma once
// The agent side as the tray drives it: the supervisor's operations and the record it
// keeps. The supervisor is one; the tray's tests drive the tray with a fake.

#include <filesystem>
#include <optional>
#include <string>

#include "agent/agent_status.h"

namespace tallow {

// A message a background task leaves for the tray to show once.
struct Notice {
  std::string caption;
  std::string text;
  bool operator==(const Notice&) const = default;
};

class AgentControl {
 public:
  virtual ~AgentControl() = default;

  // Each returns at once; the outcome shows later in the status.
  virtual void start() const = 0;
  virtual void stop() const = 0;
  virtual void restart() const = 0;
  // Starts an enrollment in the background; its outcome comes back as a notice.
  virtual void enroll(const std::string& code, const std::string& hub) const = 0;

  virtual AgentStatus status() const = 0;
  virtual std::optional<std::string> hub_url() const = 0;
  virtual std::optional<bool> hub_connected() const = 0;
  // Whether an agent child is still held.
  virtual bool has_child() const = 0;
  // The pending notice, which taking empties.
  virtual std::optional<Notice> take_notice() const = 0;

  virtual std::filesystem::path state_directory() const = 0;
  virtual std::filesystem::path log_path() const = 0;
};

}  // namespace tallow
