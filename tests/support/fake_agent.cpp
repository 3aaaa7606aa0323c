#include "agent_side/agent_side.h"
#include "support/fake_agent.h"

#include <chrono>
#include <string>

#include "platform/file.h"

namespace tallow::test {
namespace {

class FakeChildProcess final : public platform::ChildProcess {
 public:
  FakeChildProcess(std::shared_ptr<FakeAgents::Child> child, bool ignore_stop, bool deliver_stop)
      : child_(std::move(child)), ignore_stop_(ignore_stop), deliver_stop_(deliver_stop) {}

  std::uint32_t pid() const override { return child_->pid; }

  platform::StopRequestSender stop_request_sender() const override {
    return [child = child_, ignore = ignore_stop_, deliver = deliver_stop_] {
      if (!deliver) return false;
      ++child->stop_requests;
      if (!ignore) child->end(0);
      return true;
    };
  }

  Result<std::optional<std::size_t>> wait_exit_or(
      std::span<const platform::WakeEvent* const> wake) override {
    for (;;) {
      if (child_->has_ended()) return std::optional<std::size_t>();
      for (std::size_t i = 0; i < wake.size(); ++i) {
        if (wake[i]->is_raised()) return std::optional<std::size_t>(i);
      }
      child_->ended->wait_for(std::chrono::milliseconds(1));
    }
  }

  void terminate() override {
    child_->terminated = true;
    child_->end(1);
  }

  Result<platform::ExitStatus> wait_exit() override {
    while (!child_->ended->wait_for(std::chrono::seconds(1))) {
    }
    return platform::ExitStatus{platform::ExitStatus::Kind::code, child_->exit_code.load()};
  }

 private:
  std::shared_ptr<FakeAgents::Child> child_;
  bool ignore_stop_;
  bool deliver_stop_;
};

}  // namespace

void FakeAgents::Child::end(std::uint32_t code) {
  std::lock_guard lock(end_mutex);
  if (ended->is_raised()) return;
  exit_code = code;
  ended->raise();
}

AgentLauncher FakeAgents::launcher() {
  return [this](const std::filesystem::path&, const std::filesystem::path&)
             -> Result<std::unique_ptr<platform::ChildProcess>> {
    if (fail_launch) return Error{"fake launch failure"};
    auto child = std::make_shared<Child>();
    auto ended = platform::WakeEvent::create();
    if (!ended) return ended.error();
    child->ended = std::move(ended).value();
    {
      std::lock_guard lock(mutex_);
      for (const auto& earlier : children_) {
        if (!earlier->has_ended()) ++overlapping_launches_;
      }
      child->pid = next_pid_++;
      children_.push_back(child);
    }
    if (confirm) {
      (void)agent_side::replace_file_atomically(
          state_directory_ / "status.json",
          "{\"pid\": " + std::to_string(child->pid) + ", \"hub\": {\"connected\": true}}");
    }
    return std::unique_ptr<platform::ChildProcess>(
        std::make_unique<FakeChildProcess>(child, ignore_stop, deliver_stop));
  };
}

std::vector<std::shared_ptr<FakeAgents::Child>> FakeAgents::children() const {
  std::lock_guard lock(mutex_);
  return children_;
}

std::shared_ptr<FakeAgents::Child> FakeAgents::last_child() const {
  std::lock_guard lock(mutex_);
  return children_.empty() ? nullptr : children_.back();
}

int FakeAgents::launches() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(children_.size());
}

}  // namespace tallow::test
