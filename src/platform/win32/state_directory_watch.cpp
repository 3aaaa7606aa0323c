// Windows: no watch. The supervisor reads the state directory on its clock there.

#include "platform/state_directory_watch.h"

namespace tallow::platform {

struct StateDirectoryWatch::Impl {};

Result<std::unique_ptr<StateDirectoryWatch>> StateDirectoryWatch::start(const std::filesystem::path&,
                                                                       const std::string&, Listener) {
  return Error{"The state directory is not watched on this system."};
}

StateDirectoryWatch::StateDirectoryWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

StateDirectoryWatch::~StateDirectoryWatch() = default;

bool StateDirectoryWatch::watching() const { return false; }
bool StateDirectoryWatch::try_again() { return false; }

}  // namespace tallow::platform
