#pragma once
// A table of hostile state directories, run through a real launch of the stand-in agent;
// the rows that only one platform can make are instantiated beside its other tests.

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "support/agent_fixture.h"

namespace tallow::test {

// The working directory of the test process, put back at the end of the test.
class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const std::filesystem::path& directory) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(directory);
  }
  ~ScopedWorkingDirectory() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

struct HostileDirectoryCase {
  const char* name;
  // Prepares the world inside `scratch` and returns the state directory to use.
  std::function<std::filesystem::path(const std::filesystem::path& scratch)> prepare;
  // Absent: the agent runs. Otherwise the launch fails with this reason.
  std::function<std::string(const std::filesystem::path& state_directory)> failure;
};

inline void PrintTo(const HostileDirectoryCase& c, std::ostream* out) { *out << c.name; }

class HostileStateDirectory : public AgentFixture,
                              public ::testing::WithParamInterface<HostileDirectoryCase> {};

}  // namespace tallow::test
