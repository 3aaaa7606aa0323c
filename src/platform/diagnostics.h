#pragma once
// Figures about this process, for leak checks and benchmarks.

#include <cstddef>

namespace tallow::platform {

// Open handles (Windows) or file descriptors (Linux) of this process.
std::size_t open_handle_count();

}  // namespace tallow::platform
