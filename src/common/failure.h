#pragma once
// Unrecoverable internal failures: a broken invariant, or a start-up step the program
// cannot do without. Each is shown to the user once, on the thread where it happened,
// and then ends that thread's work: on the main thread the whole process, with exit
// status 101; on a background task only that task, while the process goes on.

#include <exception>
#include <functional>
#include <source_location>
#include <string>
#include <string_view>

namespace tallow {

inline constexpr int kFailureExitStatus = 101;

// "panicked at FILE:LINE:COLUMN" and, when there is a message, ":", a line feed and it.
std::string failure_text(const std::source_location& where, std::string_view message);

// Shows a failure's text to the user and returns once it was seen.
using FailureReporter = std::function<void(const std::string& text)>;

// Installs the reporter for the whole process and makes the calling thread the main
// thread. An exception nobody catches reports through it too.
void install_failure_hook(FailureReporter reporter);

// Reports the failure, then ends the calling thread's work: the process on the main
// thread; elsewhere it unwinds to the task runtime, which ends the task.
[[noreturn]] void fail(std::string_view message,
                       std::source_location where = std::source_location::current());

// What fail() throws on a background thread; only the task runtime catches it.
struct TaskAbandoned {};

// Runs one piece of background work (a task, a timer's callback) so that a failure in it
// ends it alone: fail() has reported itself, any other escaped exception is reported as
// caught at `where`, the caller's place.
void run_background_work(const std::function<void()>& work,
                         std::source_location where = std::source_location::current());

}  // namespace tallow
