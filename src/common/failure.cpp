#include "common/failure.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace tallow {
namespace {

struct Hook {
  std::mutex mutex;
  FailureReporter reporter;
  std::thread::id main_thread;
};

Hook& hook() {
  static Hook instance;
  return instance;
}

void report(const std::string& text) {
  FailureReporter reporter;
  {
    std::lock_guard lock(hook().mutex);
    reporter = hook().reporter;
  }
  if (reporter) {
    reporter(text);
  } else {
    std::fputs((text + "\n").c_str(), stderr);
  }
}

bool on_main_thread() {
  std::lock_guard lock(hook().mutex);
  return hook().reporter && std::this_thread::get_id() == hook().main_thread;
}

std::string message_of(const std::exception_ptr& escaped) {
  try {
    std::rethrow_exception(escaped);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an exception of unknown type";
  }
}

[[noreturn]] void end_process() {
  std::fflush(nullptr);
  // Not exit(): other threads still run, and static destructors would pull their world
  // away under them.
  std::_Exit(kFailureExitStatus);
}

}  // namespace

std::string failure_text(const std::source_location& where, std::string_view message) {
  std::string text = "panicked at ";
  text += where.file_name();
  text += ":" + std::to_string(where.line()) + ":" + std::to_string(where.column());
  if (!message.empty()) {
    text += ":\n";
    text += message;
  }
  return text;
}

void install_failure_hook(FailureReporter reporter) {
  {
    std::lock_guard lock(hook().mutex);
    hook().reporter = std::move(reporter);
    hook().main_thread = std::this_thread::get_id();
  }
  std::set_terminate([] {
    const std::exception_ptr escaped = std::current_exception();
    report(failure_text(std::source_location::current(),
                        escaped ? message_of(escaped) : "the program was ended abnormally"));
    end_process();
  });
}

void fail(std::string_view message, std::source_location where) {
  report(failure_text(where, message));
  if (on_main_thread()) end_process();
  throw TaskAbandoned{};
}

void run_background_work(const std::function<void()>& work, std::source_location where) {
  try {
    work();
  } catch (const TaskAbandoned&) {
  } catch (...) {
    report(failure_text(where, message_of(std::current_exception())));
  }
}

}  // namespace tallow
