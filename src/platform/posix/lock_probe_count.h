#pragma once
// This process's own probes of a lock file, counted for a watch on that file: the watch
// sees every open and close of it, the probe's among them, and must not take the probe's
// for another process's (each refresh probes, and a refresh for each probe would never end).

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace tallow::platform::posix {

// Opens and closes by the probe. Each is counted before it happens, so a watch that reads
// the event always finds it counted already; an open that fails is taken back.
struct LockProbeCount {
  std::atomic<std::uint64_t> opens{0};
  std::atomic<std::uint64_t> closes{0};
};

// Probes of `path` are counted in the returned count for as long as it lives.
std::shared_ptr<LockProbeCount> count_lock_probes(const std::filesystem::path& path);

// Where probes of `path` are counted; null while nobody asks.
std::shared_ptr<LockProbeCount> lock_probe_count(const std::filesystem::path& path);

}  // namespace tallow::platform::posix
