#pragma once
// Ending every child of the calling process, for the keeper. Because the keeper is a
// child subreaper, its children include every orphaned descendant of the agent.
// Async-signal-safe; the calling process must be single-threaded.

namespace tallow::platform::posix {

// Each sends `signal` to every current child of this process and returns how many were
// signalled (race-free: until this process reaps a child, its pid cannot be reused). They
// find the children in two ways: the kernel's list in /proc/self/task/<tid>/children
// (-1 when the kernel lacks it), and a scan of every /proc/<pid>/stat for the parent pid.
int signal_listed_children(int signal) noexcept;
int signal_scanned_children(int signal) noexcept;

// Kills and reaps children until this process has none left, including those that
// are orphaned meanwhile by the ones being killed.
void end_all_children() noexcept;

}  // namespace tallow::platform::posix
