// The supervisor's making and its status refresh: the schedule that runs the refresh (on
// the state directory's changes where it is watched, on a clock besides), and the step
// itself.

#include "agent/supervisor.h"

#include "agent/agent_launch.h"
#include "agent/enrollment.h"
#include "agent/refresh_triggers.h"
#include "agent/state_files.h"

namespace tallow {

using Kind = AgentStatus::Kind;
using Clock = TimerQueue::Clock;

namespace {

StateFileReads read_state_files(const std::filesystem::path& state_directory) {
  return {read_hub_url(state_directory), read_status_file(state_directory)};
}

// How a status moves at a refresh while the supervisor holds no child.
AgentStatus status_without_child(const AgentStatus& status, bool lock_held) {
  switch (status.kind()) {
    case Kind::stopped:
    case Kind::running_elsewhere:
      return lock_held ? AgentStatus::running_elsewhere() : AgentStatus::stopped();
    case Kind::not_enrolled:
    case Kind::failed:
      return lock_held ? AgentStatus::running_elsewhere() : status;
    case Kind::starting:
    case Kind::running:
    case Kind::stopping:
      return status;
  }
  return status;
}

}  // namespace

Supervisor Supervisor::create(std::shared_ptr<TaskRuntime> runtime, SupervisorOptions options) {
  auto context = std::make_shared<Context>(std::move(options));
  if (!context->launcher) context->launcher = launch_agent;
  if (!context->read_files) context->read_files = read_state_files;
  if (!context->run_enrollment) {
    context->run_enrollment = [](const Supervisor& self, const std::string& code, const std::string& hub) {
      run_enrollment(self, code, hub);
    };
  }

  // Nothing else sees the record yet: no lock needed.
  auto state = std::make_shared<SupervisorState>();
  state->hub_url = read_hub_url(context->state_directory);

  // The refreshes reach the supervisor weakly: the schedule belongs to the context, which
  // a strong hold from there would keep for ever.
  const auto held = [runtime = std::weak_ptr<TaskRuntime>(runtime), context = std::weak_ptr<const Context>(context),
                     state = std::weak_ptr(state)]() -> std::optional<Supervisor> {
    auto held_runtime = runtime.lock();
    auto held_context = context.lock();
    auto held_state = state.lock();
    if (!held_runtime || !held_context || !held_state) return std::nullopt;
    return Supervisor(std::move(held_runtime), std::move(held_context), std::move(held_state));
  };
  context->refreshes = std::make_shared<RefreshSchedule>(
      runtime,
      [held] {
        if (const auto self = held()) self->run_refresh_step();
      },
      [held] {
        const auto self = held();
        return self ? self->refresh_pace() : std::chrono::nanoseconds::max();
      });
  if (context->follow_state_directory) {
    // Before the first refresh, so that no change between the two goes unseen.
    auto watch = platform::StateDirectoryWatch::start(
        context->state_directory, std::string(kLockFileName),
        [refreshes = context->refreshes, settle = context->timings.lock_settle](const platform::StateDirectoryEvent& event) {
          switch (refresh_call(event)) {
            case RefreshCall::none: return;
            case RefreshCall::now: return refreshes->request(Clock::now());
            case RefreshCall::once_the_lock_settles: return refreshes->request(Clock::now() + settle);
          }
        });
    if (watch) context->watch = std::move(watch).value();
  }
  // The first step at once, concurrently with whatever the caller does next.
  context->refreshes->request(Clock::now());
  return Supervisor(std::move(runtime), std::move(context), std::move(state));
}

void Supervisor::refresh_status() const {
  const auto& directory = context_->state_directory;
  auto [hub, record] = context_->read_files(directory);

  // Enrolled meanwhile: start the agent, which decides everything else itself.
  if (status().kind() == Kind::not_enrolled && hub) {
    {
      Hold hold(*this);
      set(hold, state_->hub_url, std::move(hub));
    }
    start();
    return;
  }

  Hold hold(*this);
  set(hold, state_->hub_url, std::move(hub));
  if (state_->kill_signal) {
    // Only our own child's report counts; a file left by an earlier agent does not.
    if (record && record->pid == state_->child_pid) {
      if (state_->status.kind() == Kind::starting) set_status(hold, AgentStatus::running());
      set(hold, state_->hub_connected, record->connected);
    } else {
      set(hold, state_->hub_connected, std::nullopt);
    }
  } else {
    const bool lock_held = is_agent_lock_held(directory);
    set_status(hold, status_without_child(state_->status, lock_held));
    set(hold, state_->hub_connected, lock_held && record ? record->connected : std::nullopt);
  }
}

void Supervisor::run_refresh_step() const {
  // A watch the system refused is tried again on every refresh; until it holds, the
  // refreshes keep the short pace.
  if (context_->watch && !context_->watch->watching()) context_->watch->try_again();
  refresh_status();
}

std::chrono::nanoseconds Supervisor::refresh_pace() const {
  // Watched, the clock is only the safety net; otherwise it is how changes are found.
  return context_->watch && context_->watch->watching() ? context_->timings.safety_refresh
                                                        : context_->timings.refresh_interval;
}

}  // namespace tallow
