// Costs of the work the tray repeats: the status refresh every 3 seconds (two JSON
// reads and a lock probe) and the menu rebuild whenever the snapshot changes.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "agent/agent_launch.h"
#include "agent/supervisor.h"
#include "platform/environment.h"
#include "agent/state_files.h"
#include "tray/menu_model.h"

namespace {

namespace fs = std::filesystem;

struct StateDirectory {
  StateDirectory() {
    path = fs::temp_directory_path() / ("tallow-bench-" + std::to_string(tallow::platform::current_process_id()));
    fs::create_directories(path);
    write("config.json", R"({"hub": {"url": "https://hub.example:8443/ui"}, "agent": {"id": "abc"}})");
    write("status.json", R"({"pid": 4242, "hub": {"connected": true}, "uptime": 12345})");
    write("tallowmered.lock", "");
    std::string env;
    for (int i = 0; i < 50; ++i) env += "export KEY_" + std::to_string(i) + "=\"value " + std::to_string(i) + "\"\n";
    write("env", env);
  }
  ~StateDirectory() { fs::remove_all(path); }
  void write(const char* name, const std::string& text) { std::ofstream(path / name) << text; }
  fs::path path;
};

StateDirectory& state() {
  static StateDirectory directory;
  return directory;
}

void BM_ReadHubUrl(benchmark::State& s) {
  for (auto _ : s) benchmark::DoNotOptimize(tallow::read_hub_url(state().path));
}
BENCHMARK(BM_ReadHubUrl);

void BM_ReadStatusFile(benchmark::State& s) {
  for (auto _ : s) benchmark::DoNotOptimize(tallow::read_status_file(state().path));
}
BENCHMARK(BM_ReadStatusFile);

void BM_LockProbe(benchmark::State& s) {
  for (auto _ : s) benchmark::DoNotOptimize(tallow::is_agent_lock_held(state().path));
}
BENCHMARK(BM_LockProbe);

void BM_ReadEnvFile50Lines(benchmark::State& s) {
  for (auto _ : s) benchmark::DoNotOptimize(tallow::read_env_file(state().path));
}
BENCHMARK(BM_ReadEnvFile50Lines);

void BM_BuildTrayMenu(benchmark::State& s) {
  tallow::TraySnapshot snapshot{"https://hub.example:8443/ui", tallow::AgentStatus::running(), true,
                                false, true};
  for (auto _ : s) benchmark::DoNotOptimize(tallow::build_tray_menu(snapshot));
}
BENCHMARK(BM_BuildTrayMenu);

void BM_RefreshStep(benchmark::State& s) {
  auto runtime = tallow::TaskRuntime::create().value();
  tallow::SupervisorOptions options;
  options.state_directory = state().path;
  options.agent_path = state().path / "absent";
  options.timings.refresh_interval = std::chrono::hours(1);
  const auto supervisor = tallow::Supervisor::create(runtime, options);
  for (auto _ : s) supervisor.refresh_status();
  runtime->shutdown();
}
BENCHMARK(BM_RefreshStep);

// The launch environment from an env file of 160,000 distinct keys (1.76 MB, well under
// the readers' size cap): parsed, filtered and merged over this process's environment.
void BM_LaunchEnvironment160kKeys(benchmark::State& s) {
  std::string text;
  for (int i = 0; i < 160000; ++i) text += "K" + std::to_string(i) + "=v\n";
  for (auto _ : s) {
    const auto entries = tallow::parse_env_file(text);
    benchmark::DoNotOptimize(
        tallow::platform::environment_with(tallow::launch_environment_overrides(entries)));
  }
  s.counters["env_file_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_LaunchEnvironment160kKeys)->Unit(benchmark::kMillisecond);

// A config.json of the readers' full 16 MiB, nested as deep as it can be.
void BM_ReadDeeplyNestedConfig(benchmark::State& s) {
  const std::size_t half = 8u * 1024u * 1024u - 1u;
  const std::string text = std::string(half, '[') + std::string(half, ']');
  for (auto _ : s) benchmark::DoNotOptimize(tallow::parse_hub_url(text));
}
BENCHMARK(BM_ReadDeeplyNestedConfig)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
