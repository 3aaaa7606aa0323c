// Costs of the tray icon's picture (the mask made once, an icon per changed snapshot)
// and of the Launch at Login read that every loop pass makes.

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>

#include "platform/environment.h"
#include "platform/autostart.h"
#include "tray/rook_icon.h"

namespace {

void BM_BuildRookMask(benchmark::State& s) {
  for (auto _ : s) benchmark::DoNotOptimize(tallow::rook_mask_from_png(tallow::embedded_rook_png(36)));
}
BENCHMARK(BM_BuildRookMask);

void BM_RenderRookIcon(benchmark::State& s) {
  const auto mask = tallow::rook_mask_from_png(tallow::embedded_rook_png(36)).value();
  const auto status = tallow::AgentStatus::stopped();
  for (auto _ : s) benchmark::DoNotOptimize(tallow::render_rook_icon(mask, status, true));
}
BENCHMARK(BM_RenderRookIcon);

// With an autostart entry present, in a scratch XDG_CONFIG_HOME.
void BM_IsLaunchAtLoginEnabled(benchmark::State& s) {
  namespace fs = std::filesystem;
  const fs::path config = fs::temp_directory_path() /
                          ("tallow-bench-xdg-" + std::to_string(tallow::platform::current_process_id()));
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  if (!tallow::platform::enable_autostart("/usr/bin/tallowmere-tray")) s.SkipWithError("no entry written");
  for (auto _ : s) benchmark::DoNotOptimize(tallow::platform::is_autostart_enabled());
  fs::remove_all(config);
}
BENCHMARK(BM_IsLaunchAtLoginEnabled);

}  // namespace
