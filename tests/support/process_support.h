#pragma once
// Looking at and ending other processes by id, for tests that check what became of the
// agents and helpers they started, and counting this process's own handles for leaks.

#include <cstddef>
#include <cstdint>

namespace tallow::test {

// True while a process with this id exists and has not ended.
bool is_process_running(std::uint32_t pid);

// Ends the process with this id by force.
void kill_process(std::uint32_t pid);

// Open handles (Windows) or descriptors (Linux) of the test process.
std::size_t open_handles();

}  // namespace tallow::test
