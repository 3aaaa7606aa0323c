#pragma once
// The agent's status as the user sees it, and the reasons of a failed or ended agent.

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/process.h"

namespace tallow {

class AgentStatus {
 public:
  enum class Kind { stopped, starting, running, stopping, running_elsewhere, not_enrolled, failed };

  AgentStatus() = default;
  static AgentStatus stopped() { return AgentStatus(Kind::stopped); }
  static AgentStatus starting() { return AgentStatus(Kind::starting); }
  static AgentStatus running() { return AgentStatus(Kind::running); }
  static AgentStatus stopping() { return AgentStatus(Kind::stopping); }
  static AgentStatus running_elsewhere() { return AgentStatus(Kind::running_elsewhere); }
  static AgentStatus not_enrolled() { return AgentStatus(Kind::not_enrolled); }
  static AgentStatus failed(std::string reason) { return AgentStatus(Kind::failed, std::move(reason)); }

  Kind kind() const { return kind_; }
  // Why the agent failed; empty for every kind but Failed.
  const std::string& reason() const { return reason_; }

  // Same kind and, for Failed, the same reason byte for byte.
  bool operator==(const AgentStatus&) const = default;

 private:
  explicit AgentStatus(Kind kind, std::string reason = {}) : kind_(kind), reason_(std::move(reason)) {}

  Kind kind_ = Kind::stopped;
  std::string reason_;
};

// The user's text for a status: "Running", "Starting…", "Stopped: <reason>"...
std::string status_label(const AgentStatus& status);

// "exit code: 1", "exit code: 0xc0000005" (bit 31 set: lower-case hex), or on
// Linux "signal: 9 (SIGKILL)".
std::string exit_status_text(const platform::ExitStatus& status);

// "exited (<exit status text>), see the log".
std::string exit_reason(const platform::ExitStatus& status);

// "<agent path> is missing".
std::string missing_agent_reason(const std::filesystem::path& agent_path);

}  // namespace tallow
