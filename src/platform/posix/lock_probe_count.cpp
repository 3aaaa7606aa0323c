#include "platform/posix/lock_probe_count.h"

#include <map>
#include <mutex>
#include <string>

namespace tallow::platform::posix {
namespace {

struct Registry {
  std::mutex mutex;
  // By the path as given: the watch and the probe are handed the same one.
  std::map<std::string, std::weak_ptr<LockProbeCount>> counts;
};

Registry& registry() {
  static Registry* const kept = new Registry();  // probes may run while the process ends
  return *kept;
}

}  // namespace

std::shared_ptr<LockProbeCount> count_lock_probes(const std::filesystem::path& path) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::erase_if(r.counts, [](const auto& entry) { return entry.second.expired(); });
  std::weak_ptr<LockProbeCount>& slot = r.counts[path.native()];
  // Two watches on one file share a count: each compares it with what it has seen itself.
  if (auto count = slot.lock()) return count;
  auto count = std::make_shared<LockProbeCount>();
  slot = count;
  return count;
}

std::shared_ptr<LockProbeCount> lock_probe_count(const std::filesystem::path& path) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  const auto found = r.counts.find(path.native());
  return found == r.counts.end() ? nullptr : found->second.lock();
}

}  // namespace tallow::platform::posix
