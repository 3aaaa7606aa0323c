#include "support/supervisor_fixture.h"

#include "agent/state_files.h"

namespace tallow::test {
namespace {

using Kind = AgentStatus::Kind;

// Every status change must follow the supervisor's transition table.
bool is_allowed_transition(const AgentStatus& from, const AgentStatus& to) {
  const Kind f = from.kind();
  const bool may_have_child = f == Kind::starting || f == Kind::running || f == Kind::stopping;
  switch (to.kind()) {
    case Kind::starting: return f != Kind::starting;
    case Kind::running_elsewhere:
    case Kind::not_enrolled: return !may_have_child;
    case Kind::running: return f == Kind::starting;
    case Kind::stopping: return f == Kind::starting || f == Kind::running;
    case Kind::stopped: return f == Kind::stopping || f == Kind::running_elsewhere;
    case Kind::failed: return f == Kind::starting || f == Kind::running;
  }
  return false;
}

}  // namespace

StateFileReader HeldReads::reader() {
  return [this](const std::filesystem::path& dir) {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.wait(lock, [&] { return !closed_; });
    --waiting_;
    ++done_;
    return StateFileReads{read_hub_url(dir), read_status_file(dir)};
  };
}

void HeldReads::set_closed(bool closed) {
  std::lock_guard lock(mutex_);
  closed_ = closed;
  changed_.notify_all();
}

int HeldReads::done() {
  std::lock_guard lock(mutex_);
  return done_;
}

int HeldReads::waiting() {
  std::lock_guard lock(mutex_);
  return waiting_;
}

void SupervisorTest::SetUp() { runtime_ = TaskRuntime::create().value(); }

void SupervisorTest::TearDown() {
  reads_.set_closed(false);
  if (supervisor_) {
    // A pending restart may launch once more, so keep ending children until none is held.
    EXPECT_TRUE(wait_until([&] {
      for (const auto& child : agents_.children()) child->end(1);
      return !supervisor_->has_child();
    }));
  }
  runtime_->shutdown();
  std::lock_guard lock(transitions_mutex_);
  for (const auto& [from, to] : transitions_) {
    EXPECT_TRUE(is_allowed_transition(from, to)) << status_label(from) << " -> " << status_label(to);
  }
}

Supervisor& SupervisorTest::make_supervisor(SupervisorTimings timings) {
  SupervisorOptions options;
  options.state_directory = dir_.path();
  options.agent_path = dir_ / "agent";
  options.timings = timings;
  options.launcher = launcher_ ? launcher_ : agents_.launcher();
  if (through_reads_) options.read_files = reads_.reader();
  options.status_observer = [this](const AgentStatus& from, const AgentStatus& to) {
    std::lock_guard lock(transitions_mutex_);
    transitions_.emplace_back(from, to);
  };
  options.follow_state_directory = follow_state_directory_;
  supervisor_ = Supervisor::create(runtime_, std::move(options));
  return *supervisor_;
}

void SupervisorTest::enroll(std::string_view url) {
  write_file(dir_ / "config.json", "{\"hub\": {\"url\": \"" + std::string(url) + "\"}}");
}

bool SupervisorTest::wait_for_status(const AgentStatus& expected) {
  return wait_until([&] { return supervisor_->status() == expected; });
}

void SupervisorTest::start_and_confirm() {
  supervisor_->start();
  ASSERT_TRUE(wait_until([&] { return supervisor_->has_child(); }));
  supervisor_->refresh_status();
  ASSERT_EQ(supervisor_->status(), AgentStatus::running());
}

}  // namespace tallow::test
