#include "agent/supervisor.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "agent/state_files.h"

namespace tallow {

using Kind = AgentStatus::Kind;
using Lock = std::lock_guard<std::mutex>;
using Clock = TimerQueue::Clock;

void Supervisor::set_status(Hold& hold, AgentStatus status) const {
  if (state_->status != status && context_->status_observer) context_->status_observer(state_->status, status);
  set(hold, state_->status, std::move(status));
}

void Supervisor::start() const {
  {
    Hold hold(*this);
    if (state_->kill_signal || state_->status.kind() == Kind::starting) return;
    // Another agent on this state directory (started by hand or by a service) wins.
    if (is_agent_lock_held(context_->state_directory)) {
      set_status(hold, AgentStatus::running_elsewhere());
      return;
    }
    if (!state_->hub_url && !is_listen_configured(context_->state_directory)) {
      set_status(hold, AgentStatus::not_enrolled());
      return;
    }
    set_status(hold, AgentStatus::starting());
  }
  if (!runtime_->spawn([self = *this] { self.run_launch(); })) {
    // Only refused while the program ends; nothing will launch, so say so.
    Hold hold(*this);
    if (state_->status.kind() == Kind::starting) set_status(hold, AgentStatus::stopped());
  }
}

void Supervisor::run_launch() const {
  const auto fail = [this](const Error& error) {
    Hold hold(*this);
    set_status(hold, AgentStatus::failed(error.message));
  };
  auto kill_signal = platform::WakeEvent::create();
  if (!kill_signal) return fail(kill_signal.error());
  auto child = context_->launcher(context_->state_directory, context_->agent_path);
  if (!child) return fail(child.error());

  // The exit watch is the child's one owner.
  std::shared_ptr<platform::ChildProcess> owned = std::move(child).value();
  std::shared_ptr<platform::WakeEvent> kill = std::move(kill_signal).value();
  {
    Lock lock(state_->mutex);
    state_->child_pid = owned->pid();
    state_->kill_signal = kill;
    state_->send_stop_request = owned->stop_request_sender();
  }
  // The status stays Starting until the agent itself confirms in status.json. Where the
  // watch calls the refreshes, the refresh its confirmation called for may have run
  // before the child was recorded here (a launch delayed on a loaded machine), and found
  // no child to confirm: one more refresh follows the recording. On a clock, the next
  // tick comes anyway.
  if (context_->watch) context_->refreshes->request(Clock::now());
  // This task goes on as the child's exit watch: a thread fewer to start, and under Wine
  // each thread that ends leaves its stack (about 1 MB) until the next one ends.
  watch_exit(*owned, *kill);
}

void Supervisor::watch_exit(platform::ChildProcess& child, const platform::WakeEvent& kill_signal) const {
  const platform::WakeEvent* const wake[] = {&kill_signal, &runtime_->shutdown_event()};
  auto woken = child.wait_exit_or(wake);
  if (!woken) return on_child_exit(woken.error());
  // The tray is ending: the agent outlives it unless it was stopped first.
  if (woken.value() == std::size_t{1}) return;
  if (woken.value() == std::size_t{0}) child.terminate();
  on_child_exit(child.wait_exit());
}

void Supervisor::on_child_exit(const Result<platform::ExitStatus>& outcome) const {
  bool restart_pending;
  {
    Hold hold(*this);
    state_->kill_signal.reset();
    state_->send_stop_request = nullptr;
    // A tray that quits waits for no child to be left.
    hold.changed();
    if (state_->status.kind() == Kind::stopping) {
      set_status(hold, AgentStatus::stopped());
    } else {
      // An agent that ends on its own failed, whatever its exit code.
      set_status(hold, AgentStatus::failed(outcome ? exit_reason(outcome.value()) : outcome.error().message));
    }
    restart_pending = std::exchange(state_->restart_pending, false);
  }
  if (restart_pending) start();
}

void Supervisor::stop() const {
  std::uint32_t pid;
  std::shared_ptr<platform::WakeEvent> kill_signal;
  platform::StopRequestSender send_stop_request;
  {
    Hold hold(*this);
    // Without a child there is nothing of ours to stop; an agent started elsewhere is left alone.
    if (!state_->kill_signal) return;
    pid = state_->child_pid;
    kill_signal = state_->kill_signal;
    send_stop_request = state_->send_stop_request;
    set_status(hold, AgentStatus::stopping());
  }
  // A child that cannot be asked is ended at once.
  if (!send_stop_request || !send_stop_request()) return kill_signal->raise();
  // The deadline holds the kill signal weakly: once its child is gone there is nothing
  // left to end, and a storm of stops keeps no events open through the grace.
  runtime_->timers().schedule_after(
      context_->timings.stop_grace,
      [self = *this, pid, kill = std::weak_ptr<platform::WakeEvent>(kill_signal)] { self.on_stop_deadline(pid, kill); });
}

void Supervisor::on_stop_deadline(std::uint32_t pid, const std::weak_ptr<platform::WakeEvent>& kill_signal) const {
  bool same_child;
  {
    Lock lock(state_->mutex);
    // A deadline left from an earlier child must not touch a later one.
    same_child = state_->kill_signal && state_->child_pid == pid;
  }
  if (!same_child) return;
  if (const auto kill = kill_signal.lock()) kill->raise();
}

void Supervisor::restart() const {
  bool has_child;
  {
    Lock lock(state_->mutex);
    has_child = state_->kill_signal != nullptr;
    // Decided in the same hold as the check, so a child ending in between still restarts.
    if (has_child) state_->restart_pending = true;
  }
  if (has_child) return stop();
  start();
}

void Supervisor::stop_and_wait() const {
  stop();
  const auto deadline = std::chrono::steady_clock::now() + context_->timings.logoff_wait;
  // Checked at once, then every poll; the last sleep is cut short so the session's end
  // is never held up past the deadline.
  for (auto now = std::chrono::steady_clock::now(); has_child() && now < deadline;
       now = std::chrono::steady_clock::now()) {
    std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(context_->timings.logoff_poll, deadline - now));
  }
}

std::optional<Notice> Supervisor::take_notice() const {
  Lock lock(state_->mutex);
  return std::exchange(state_->notice, std::nullopt);
}

void Supervisor::leave_notice(Notice notice) const {
  Hold hold(*this);
  // A notice not shown yet is replaced: the latest outcome is the one that counts.
  state_->notice = std::move(notice);
  hold.changed();
  set(hold, state_->hub_url, read_hub_url(context_->state_directory));
}

}  // namespace tallow
