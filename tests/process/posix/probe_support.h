#pragma once
// Shared pieces of the Linux contained-start tests: starting the contained_probe
// helper, and looking at other processes through /proc.

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"
#include "support/test_support.h"
#include "support/process_support.h"

namespace tallow::test::posix {

inline std::filesystem::path probe_program() { return program_path("contained_probe"); }

// The probe's launch with its output appended to `log`.
inline platform::AgentCommand probe_command(const std::vector<std::string>& arguments,
                                            const std::filesystem::path& log,
                                            std::vector<platform::EnvironmentVariable> overrides = {}) {
  auto output = platform::open_log_for_append(log);
  EXPECT_TRUE(output.ok());
  return platform::AgentCommand{probe_program(), arguments, platform::environment_with(overrides),
                                log.parent_path(), output ? std::move(output.value()) : platform::File()};
}

inline std::unique_ptr<platform::ChildProcess> spawn_probe(const std::vector<std::string>& arguments,
                                                           const TempDir& dir) {
  auto child = platform::spawn_contained(probe_command(arguments, dir / "agent.log"));
  EXPECT_TRUE(child.ok()) << (child ? "" : child.error().message);
  return child ? std::move(child.value()) : nullptr;
}

// The pids a probe wrote into `ready`, once it wrote them.
inline std::vector<pid_t> wait_for_pids(const std::filesystem::path& ready) {
  std::string text;
  wait_until([&] {
    text = read_file(ready);
    return !text.empty();
  });
  std::vector<pid_t> pids;
  std::istringstream in(text);
  for (pid_t pid; in >> pid;) pids.push_back(pid);
  return pids;
}

inline std::set<int> open_descriptors(pid_t pid) {
  std::set<int> descriptors;
  std::error_code error;
  const std::filesystem::path directory = "/proc/" + std::to_string(pid) + "/fd";
  for (std::filesystem::directory_iterator entry(directory, error), end; !error && entry != end;
       entry.increment(error)) {
    descriptors.insert(std::stoi(entry->path().filename().string()));
  }
  return descriptors;
}

inline std::string descriptor_target(pid_t pid, int fd) {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error)
      .string();
}

// A "Name:\tvalue" line of /proc/<pid>/status (or of fdinfo and the like).
inline std::optional<std::string> proc_field(const std::filesystem::path& file, const std::string& name) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(name + ":", 0) == 0) {
      const auto value = line.find_first_not_of(" \t", name.size() + 1);
      return value == std::string::npos ? std::string() : line.substr(value);
    }
  }
  return std::nullopt;
}

inline std::optional<std::string> status_field(pid_t pid, const std::string& name) {
  return proc_field("/proc/" + std::to_string(pid) + "/status", name);
}

inline pid_t parent_of(pid_t pid) {
  const auto parent = status_field(pid, "PPid");
  return parent ? static_cast<pid_t>(std::stol(*parent)) : -1;
}

inline bool running(pid_t pid) { return test::is_process_running(static_cast<std::uint32_t>(pid)); }

}  // namespace tallow::test::posix
