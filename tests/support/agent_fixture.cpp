#include "support/agent_fixture.h"

#include <cstdlib>
#include <list>
#include <mutex>

#include "agent/agent_locations.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "agent/state_files.h"
#include "support/process_support.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;
using Kind = AgentStatus::Kind;

// putenv keeps the very string it is given on some C libraries, so every string
// handed to it lives until the process ends.
const char* keep_forever(std::string text) {
  static std::mutex mutex;
  static std::list<std::string> kept;
  std::lock_guard lock(mutex);
  return kept.emplace_back(std::move(text)).c_str();
}

bool put(std::string text) { return ::putenv(const_cast<char*>(keep_forever(std::move(text)))) == 0; }

}  // namespace

struct TransitionLog {
  std::mutex mutex;
  std::vector<std::pair<Kind, Kind>> transitions;
};

std::string kind_name(Kind kind) {
  switch (kind) {
    case Kind::stopped: return "Stopped";
    case Kind::starting: return "Starting";
    case Kind::running: return "Running";
    case Kind::stopping: return "Stopping";
    case Kind::running_elsewhere: return "RunningElsewhere";
    case Kind::not_enrolled: return "NotEnrolled";
    case Kind::failed: return "Failed";
  }
  return "?";
}

std::string kind_names(const std::vector<Kind>& kinds) {
  std::string text = "{";
  for (const Kind kind : kinds) {
    if (text.size() > 1) text += ", ";
    text += kind_name(kind);
  }
  return text + "}";
}

bool set_process_variable(const std::string& name, const std::optional<std::string>& value) {
  if (value) return put(name + "=" + *value);
  // "NAME" alone removes the variable where the C library knows that form; where it
  // does not (it refuses it), "NAME=" is the removal.
  if (put(name)) return true;
  return put(name + "=");
}

ScopedProcessVariable::ScopedProcessVariable(std::string name, std::optional<std::string> value)
    : name_(std::move(name)), previous_(platform::environment_variable(name_)) {
  EXPECT_TRUE(set_process_variable(name_, value)) << "cannot set " << name_;
  // The supervisor reads the variable through the platform layer, not the C library:
  // both must agree, or the test would prove nothing.
  EXPECT_EQ(platform::environment_variable(name_), value) << name_ << " did not take effect";
}

ScopedProcessVariable::~ScopedProcessVariable() { set_process_variable(name_, previous_); }

SupervisorTimings short_timings() {
  SupervisorTimings timings;
  // Not shorter: every refresh reads status.json, and on some systems (Wine) the agent
  // cannot replace that file at the moment it is being read.
  timings.refresh_interval = 100ms;
  timings.stop_grace = 1500ms;
  timings.logoff_wait = 4s;
  timings.logoff_poll = 20ms;
  return timings;
}


AgentFixture::AgentFixture() : scratch_("tallow-sup") { state_dir_ = scratch_.path() / "state"; }

AgentFixture::~AgentFixture() = default;

void AgentFixture::SetUp() {
  std::filesystem::create_directories(state_dir_);
  no_listen_.emplace(std::string(kListenVariable), std::nullopt);
  auto runtime = TaskRuntime::create();
  ASSERT_TRUE(runtime) << runtime.error().message;
  runtime_ = std::move(runtime).value();
}

void AgentFixture::TearDown() {
  shut_down_supervisor();
  if (auto grandchild = grandchild_pid()) track_process(*grandchild);
  for (const std::uint32_t pid : tracked_) {
    if (pid != 0 && test::is_process_running(pid)) test::kill_process(pid);
  }
  for (const std::uint32_t pid : tracked_) {
    if (pid == 0) continue;
    EXPECT_TRUE(wait_until([pid] { return !test::is_process_running(pid); }, 10s))
        << "process " << pid << " is still running after the test";
  }
  // Put back in the reverse order of setting, so the first value saved is the last restored.
  while (!variables_.empty()) variables_.pop_back();
  no_listen_.reset();
}

void AgentFixture::set_process_environment(std::string name, std::optional<std::string> value) {
  ASSERT_FALSE(supervisor_) << "the supervisor's threads read the environment";
  variables_.emplace_back(std::move(name), std::move(value));
}

void AgentFixture::shut_down_supervisor() {
  if (!supervisor_) {
    if (runtime_) runtime_->shutdown();
    return;
  }
  Supervisor& s = *supervisor_;
  // A launch still under way would hand its child to an exit watch that the runtime,
  // once shut down, refuses to start; so let every launch settle, then end its child.
  for (int round = 0; round < 3; ++round) {
    const bool settled =
        wait_until([&] { return s.has_child() || s.status().kind() != Kind::starting; }, 20s);
    EXPECT_TRUE(settled) << "a launch did not finish";
    if (!s.has_child()) break;
    {
      std::lock_guard lock(s.state()->mutex);
      s.state()->restart_pending = false;
    }
    s.stop();
    if (!wait_until([&] { return !s.has_child(); }, 5s)) {
      raise_kill_signal();
      wait_until([&] { return !s.has_child(); }, 20s);
    }
  }
  const std::uint32_t left = s.has_child() ? child_pid() : 0;
  EXPECT_EQ(left, 0u) << "the agent child could not be ended";
  runtime_->shutdown();
  // The exit watch gives up its child at shutdown; a child it left must not outlive the test.
  if (left != 0) track_process(left);
}

void AgentFixture::use_state_directory(std::filesystem::path directory) {
  ASSERT_FALSE(supervisor_) << "the state directory is fixed once the supervisor exists";
  state_dir_ = std::move(directory);
}

void AgentFixture::write_config(std::string_view hub_url) {
  const nlohmann::json config = {{"hub", {{"url", std::string(hub_url)}}}};
  write_file(state_dir_ / kConfigFileName, config.dump());
}

void AgentFixture::write_env_text(std::string_view text) { write_file(state_dir_ / kEnvFileName, text); }

void AgentFixture::write_env(
    std::initializer_list<std::pair<std::string_view, std::string_view>> entries) {
  std::string text;
  for (const auto& [key, value] : entries) {
    text.append(key).append("=").append(value).append("\n");
  }
  write_env_text(text);
}

void AgentFixture::write_status_file(std::uint32_t pid, std::optional<bool> connected) {
  nlohmann::json status = {{"pid", pid}};
  if (connected) status["hub"] = {{"connected", *connected}};
  write_file(state_dir_ / kStatusFileName, status.dump());
}

std::filesystem::path AgentFixture::agent_program() { return program_path(kAgentProgramName); }

Supervisor& AgentFixture::create_supervisor(SupervisorTimings timings) {
  SupervisorOptions options;
  options.state_directory = state_dir_;
  options.agent_path = agent_program();
  options.timings = timings;
  return create_supervisor(std::move(options));
}

Supervisor& AgentFixture::create_supervisor(SupervisorOptions options) {
  EXPECT_FALSE(supervisor_) << "one supervisor per test";
  EXPECT_TRUE(runtime_) << "no task runtime";
  transitions_ = std::make_shared<TransitionLog>();
  options.status_observer = [log = transitions_, own = std::move(options.status_observer)](
                                const AgentStatus& from, const AgentStatus& to) {
    {
      std::lock_guard lock(log->mutex);
      log->transitions.emplace_back(from.kind(), to.kind());
    }
    if (own) own(from, to);
  };
  supervisor_.emplace(Supervisor::create(runtime_, std::move(options)));
  return *supervisor_;
}

Supervisor& AgentFixture::supervisor() {
  EXPECT_TRUE(supervisor_) << "create_supervisor() first";
  return *supervisor_;
}

AgentStatus AgentFixture::status() const { return supervisor_->status(); }

std::uint32_t AgentFixture::child_pid() const {
  std::lock_guard lock(supervisor_->state()->mutex);
  return supervisor_->state()->kill_signal ? supervisor_->state()->child_pid : 0;
}

bool AgentFixture::has_child() const { return supervisor_->has_child(); }

bool AgentFixture::wait_for_kind(Kind kind, std::chrono::milliseconds limit) {
  return wait_until([&] { return status().kind() == kind; }, limit);
}

bool AgentFixture::wait_for_status(const AgentStatus& expected, std::chrono::milliseconds limit) {
  return wait_until([&] { return status() == expected; }, limit);
}

bool AgentFixture::wait_for_no_child(std::chrono::milliseconds limit) {
  return wait_until([&] { return !has_child(); }, limit);
}

std::uint32_t AgentFixture::start_until_running() {
  supervisor().start();
  if (!wait_for_kind(Kind::running)) {
    ADD_FAILURE() << "the agent did not reach Running; status \"" << status_label(status())
                  << "\", log:\n"
                  << log_text();
    return 0;
  }
  return child_pid();
}

void AgentFixture::stop_until_stopped() {
  supervisor().stop();
  EXPECT_TRUE(wait_for_no_child()) << "the agent child did not end";
  EXPECT_TRUE(wait_for_kind(Kind::stopped)) << "status \"" << status_label(status()) << "\"";
}

void AgentFixture::raise_kill_signal() {
  std::shared_ptr<platform::WakeEvent> kill_signal;
  {
    std::lock_guard lock(supervisor_->state()->mutex);
    kill_signal = supervisor_->state()->kill_signal;
  }
  if (kill_signal) kill_signal->raise();
}

std::vector<AgentFixture::Transition> AgentFixture::transitions() const {
  if (!transitions_) return {};
  std::lock_guard lock(transitions_->mutex);
  return transitions_->transitions;
}

std::vector<Kind> AgentFixture::kinds_seen() const {
  std::vector<Kind> kinds;
  for (const auto& [from, to] : transitions()) kinds.push_back(to);
  return kinds;
}

void AgentFixture::clear_transitions() {
  if (!transitions_) return;
  std::lock_guard lock(transitions_->mutex);
  transitions_->transitions.clear();
}

std::string AgentFixture::log_text() const { return read_file(state_dir_ / kAgentLogFileName); }

nlohmann::json AgentFixture::launch_record() const {
  auto record = nlohmann::json::parse(read_file(state_dir_ / "launch.json"), nullptr, false);
  return record.is_object() ? record : nlohmann::json::object();
}

std::optional<std::uint32_t> AgentFixture::grandchild_pid() const {
  const std::string text = read_file(state_dir_ / "grandchild.pid");
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const unsigned long pid = std::strtoul(text.c_str(), &end, 10);
  if (end == text.c_str() || pid == 0) return std::nullopt;
  return static_cast<std::uint32_t>(pid);
}

bool AgentFixture::settle_runtime(std::chrono::milliseconds limit) {
  if (!wait_until([&] { return TaskRuntimeAccess::live_tasks(*runtime_) == 1; }, limit)) return false;
  // A spawn joins the workers that have finished; the one it starts is then the only
  // finished worker left once it is done.
  if (!runtime_->spawn([] {})) return false;
  return wait_until([&] { return TaskRuntimeAccess::live_tasks(*runtime_) == 1; }, limit);
}

std::string AgentFixture::expected_argument() const { return state_directory_argument(state_dir_); }

}  // namespace tallow::test
