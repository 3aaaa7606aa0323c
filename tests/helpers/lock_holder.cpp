// Holds the agent's lock file the way a running agent does, from a process of its own.
//
//   lock_holder <lock file> <ready file> <release file>
//
// Locks the lock file exclusively, then creates the ready file, then waits until the
// release file exists and exits 0, which releases the lock. Exits non-zero if the lock
// cannot be taken or the ready file cannot be written, and gives up after ten minutes
// so that a test that died early leaves no holder behind for long.

#include <chrono>
#include <filesystem>
#include <thread>

#include "agent_side/agent_side.h"
#include "platform/environment.h"
#include "platform/file.h"

int main(int argc, char** argv) {
  using namespace tallow;
  if (argc != 4) return 2;
  const std::filesystem::path lock_path = platform::path_from_text(argv[1]);
  const std::filesystem::path ready_path = platform::path_from_text(argv[2]);
  const std::filesystem::path release_path = platform::path_from_text(argv[3]);

  // A tray beside it probes the lock by taking it for an instant; a few tries pass that.
  auto lock = tallow::agent_side::lock_file_exclusively(lock_path);
  for (int tries = 1; !lock && tries < 200; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    lock = tallow::agent_side::lock_file_exclusively(lock_path);
  }
  if (!lock) return 3;
  // Atomic, so the test never sees the ready file before the lock is held.
  if (!tallow::agent_side::replace_file_atomically(ready_path, "ready\n")) return 4;

  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  std::error_code error;
  while (!std::filesystem::exists(release_path, error)) {
    if (std::chrono::steady_clock::now() > give_up) return 5;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return 0;
}
