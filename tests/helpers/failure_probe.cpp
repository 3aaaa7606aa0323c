// Fails the way the tray can, for the tests of the failure hook. Each report goes to
// standard output, followed by a line "--".
//
//   failure_probe main    fail() on the main thread: exit status 101
//   failure_probe throw   an exception nobody catches on the main thread: 101
//   failure_probe task    fail() in one task and an escaping exception in another;
//                         only those tasks end, and the program ends with 0

#include <cstdio>
#include <stdexcept>
#include <string>

#include "common/failure.h"
#include "tasks/task_runtime.h"

namespace {

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tallow;
  if (argc != 2) return 64;
  install_failure_hook([](const std::string& text) { say(text + "\n--"); });
  const std::string mode = argv[1];
  if (mode == "main") fail("the main thread gave up");
  if (mode == "throw") throw std::runtime_error("nobody caught this");
  if (mode != "task") return 64;

  auto runtime = TaskRuntime::create();
  if (!runtime) return 65;
  runtime.value()->spawn([] {
    fail("a task gave up");
    say("not reached");
  });
  runtime.value()->shutdown();  // one task at a time, so the reports come in order
  auto second = TaskRuntime::create();
  if (!second) return 65;
  second.value()->spawn([] { throw std::runtime_error("a task threw"); });
  second.value()->shutdown();
  say("the process goes on");
  return 0;
}
