#pragma once
// Helpers shared by the tests: scratch directories, condition waits, helper programs.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "agent_side/agent_side.h"
#include "platform/file.h"

namespace tallow::test {

// A fresh directory under the system's temporary directory, removed on destruction.
class TempDir {
 public:
  explicit TempDir(std::string_view name_hint = "tallow");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Writes bytes to a file, replacing it.
void write_file(const std::filesystem::path& path, std::string_view bytes);

// Reads a file whole; empty when missing.
std::string read_file(const std::filesystem::path& path);

// Polls `condition` every few milliseconds until it holds or `limit` passes.
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(20));

// Locks `path` as a running agent does, trying again while a tray's probe holds it for
// its instant: a supervisor probes from its own thread whenever that thread runs.
std::optional<agent_side::FileLock> hold_lock(const std::filesystem::path& path);

// Encodes one Unicode scalar value as UTF-8, independently of the code under test.
std::string encode_utf8(char32_t c);

// Path of a program built beside the test executable ("tallowmered", "lock_holder"...).
std::filesystem::path program_path(std::string_view name);

}  // namespace tallow::test
