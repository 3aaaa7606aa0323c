#include "support/process_support.h"

#include <signal.h>

#include <climits>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace tallow::test {
namespace {

bool is_valid_pid(std::uint32_t pid) { return pid > 0 && pid <= static_cast<std::uint32_t>(INT_MAX); }

}  // namespace

bool is_process_running(std::uint32_t pid) {
  if (!is_valid_pid(pid)) return false;
  // /proc/<id> also answers for the id of any thread, so the thread group id must be
  // the id itself; a zombie has ended even though its entry is still there.
  const auto status = platform::read_regular_file("/proc/" + std::to_string(pid) + "/status", 64 * 1024);
  if (!status) return false;
  const auto field = [&](std::string_view name) -> std::string_view {
    const std::string key = "\n" + std::string(name) + ":";
    const auto at = status->find(key);
    if (at == std::string::npos) return {};
    const auto begin = status->find_first_not_of(" \t", at + key.size());
    const auto end = status->find('\n', begin);
    if (begin == std::string::npos) return {};
    return std::string_view(*status).substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  };
  if (field("Tgid") != std::to_string(pid)) return false;
  const std::string_view state = field("State");
  return !state.empty() && state[0] != 'Z' && state[0] != 'X' && state[0] != 'x';
}

void kill_process(std::uint32_t pid) {
  // Never 0 or a negative number: those would signal whole process groups.
  if (is_valid_pid(pid)) ::kill(static_cast<pid_t>(pid), SIGKILL);
}

std::size_t open_handles() {
  std::error_code error;
  std::size_t count = 0;
  for (std::filesystem::directory_iterator entry("/proc/self/fd", error), end; !error && entry != end;
       entry.increment(error)) {
    ++count;
  }
  // The iterator's own descriptor was open while counting.
  return count > 0 ? count - 1 : 0;
}

}  // namespace tallow::test
