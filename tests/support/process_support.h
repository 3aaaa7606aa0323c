#pragma once
// Looking at and ending other processes by id, for tests that check what became of the
// agents and helpers they started.

#include <cstdint>

namespace tallow::test {

// True while a process with this id exists and has not ended.
bool is_process_running(std::uint32_t pid);

// Ends the process with this id by force.
void kill_process(std::uint32_t pid);

}  // namespace tallow::test
