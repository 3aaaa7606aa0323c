#include "agent/agent_status.h"

#include <cstdio>

#include "platform/environment.h"

namespace tallow {
namespace {

// Linux signal names, for the exit status of an agent killed by a signal.
const char* signal_name(std::uint32_t number) {
  static constexpr const char* kNames[] = {
      nullptr,   "SIGHUP",  "SIGINT",    "SIGQUIT", "SIGILL",    "SIGTRAP", "SIGABRT",
      "SIGBUS",  "SIGFPE",  "SIGKILL",   "SIGUSR1", "SIGSEGV",   "SIGUSR2", "SIGPIPE",
      "SIGALRM", "SIGTERM", "SIGSTKFLT", "SIGCHLD", "SIGCONT",   "SIGSTOP", "SIGTSTP",
      "SIGTTIN", "SIGTTOU", "SIGURG",    "SIGXCPU", "SIGXFSZ",   "SIGVTALRM", "SIGPROF",
      "SIGWINCH", "SIGIO",  "SIGPWR",    "SIGSYS"};
  return number < std::size(kNames) ? kNames[number] : nullptr;
}

}  // namespace

std::string status_label(const AgentStatus& status) {
  switch (status.kind()) {
    case AgentStatus::Kind::stopped: return "Stopped";
    case AgentStatus::Kind::starting: return "Starting\u2026";
    case AgentStatus::Kind::running: return "Running";
    case AgentStatus::Kind::stopping: return "Stopping\u2026";
    case AgentStatus::Kind::running_elsewhere: return "Running (started elsewhere)";
    case AgentStatus::Kind::not_enrolled: return "Not enrolled";
    case AgentStatus::Kind::failed: return "Stopped: " + status.reason();
  }
  return "Stopped";
}

std::string exit_status_text(const platform::ExitStatus& status) {
  if (status.kind == platform::ExitStatus::Kind::code) {
    char code[16];
    // Codes with bit 31 set are NTSTATUS values such as 0xc0000005: hex reads as the system writes them.
    std::snprintf(code, sizeof code, status.value & 0x80000000u ? "0x%x" : "%u", static_cast<unsigned>(status.value));
    return std::string("exit code: ") + code;
  }
  std::string text = "signal: " + std::to_string(status.value);
  if (const char* name = signal_name(status.value)) text += std::string(" (") + name + ")";
  return text;
}

std::string exit_reason(const platform::ExitStatus& status) {
  return "exited (" + exit_status_text(status) + "), see the log";
}

std::string missing_agent_reason(const std::filesystem::path& agent_path) {
  return platform::path_text(agent_path) + " is missing";
}

}  // namespace tallow
