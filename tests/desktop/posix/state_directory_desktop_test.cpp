// An agent started and ended by hand, shown by the real tray within the refresh pace
// however its state directory is watched: a plain directory, one made, removed, moved or
// replaced after the tray started, one reached through a symbolic link pointed elsewhere,
// and one the system refuses to watch. The tray runs copied alone into a directory of
// its own, as a user may run it. Each row prints its latencies.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "desktop/posix/tray_desktop_fixture.h"

namespace tallow::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The tray's pace where nothing tells it of a change, and the moment an agent takes
// to start and take its lock.
constexpr auto kWithinThePace = 3500ms;

// How often the threads of `pid` went to sleep after something woke them (voluntary
// context switches) over `span`, sampled often enough that a thread which ends meanwhile
// still counts with what it did.
long wake_ups_over(int pid, std::chrono::milliseconds span) {
  std::map<std::string, std::pair<long, long>> first_and_last;  // by thread id
  bool first_sample = true;
  for (const auto end = Clock::now() + span; Clock::now() < end; std::this_thread::sleep_for(20ms)) {
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
      std::ifstream status(task.path() / "status");
      for (std::string line; std::getline(status, line);) {
        if (line.rfind("voluntary_ctxt_switches:", 0) != 0) continue;
        const long switches = std::atol(line.c_str() + 24);
        // A thread that starts meanwhile counts from its start.
        const auto [entry, is_new] = first_and_last.try_emplace(task.path().filename(), first_sample ? switches : 0, 0);
        entry->second.second = switches;
      }
    }
    first_sample = false;
  }
  long total = 0;
  for (const auto& [thread, counts] : first_and_last) total += counts.second - counts.first;
  return total;
}

// The lines the agent has logged so far.
std::size_t logged_lines(const fs::path& log) {
  const std::string text = read_file(log);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class StateDirectoryDesktop : public TrayDesktop {
 protected:
  // The time from `since` until the item's tooltip shows `status`, or none in 20 s.
  std::optional<std::chrono::milliseconds> until_tooltip(const std::string& item, const AgentStatus& status,
                                                         Clock::time_point since) {
    const std::string tooltip = "tallowmered: " + status_label(status);
    if (!wait_until([&] { return watcher_->tooltip(item) == tooltip; }, 20s)) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since);
  }
};

TEST_F(StateDirectoryDesktop, AnAgentStartedAndEndedByHandIsShownWithinThePaceHoweverTheDirectoryIsWatched) {
  const fs::path copied = scratch_ / "copied";
  fs::create_directories(copied);
  fs::copy_file(program_path("tallowmere-tray"), copied / "tallowmere-tray");
  const auto made = [](const fs::path& dir) {
    fs::create_directories(dir);
    return dir;
  };
  const auto link = [](const fs::path& at, const fs::path& to) {
    // As `ln -sfn` does: a new link renamed over the old one.
    fs::create_directory_symlink(to, at.string() + ".new");
    fs::rename(at.string() + ".new", at);
  };
  struct Row {
    const char* name;
    // Before the tray starts: gives the state directory the tray is told of.
    std::function<fs::path(const fs::path& root)> before;
    // Once the tray shows its first look: gives the directory the agent starts in.
    std::function<fs::path(const fs::path& root, const fs::path& state)> change;
    const char* refused;  // what the system refuses the tray (TALLOW_REFUSED_INOTIFY), or null
  };
  const auto plain = [&](const fs::path& root) { return made(root / "state"); };
  const auto as_it_is = [](const fs::path&, const fs::path& state) { return state; };
  const auto made_now = [&](const fs::path&, const fs::path& state) { return made(state); };
  const Row rows[] = {
      {"a plain state directory", plain, as_it_is, nullptr},
      {"one absent when the tray starts", [](const fs::path& root) { return root / "state"; }, made_now, nullptr},
      {"one whose two parents are absent", [](const fs::path& root) { return root / "a" / "b" / "state"; }, made_now,
       nullptr},
      {"one removed and made again", plain,
       [&](const fs::path&, const fs::path& state) {
         fs::remove_all(state);
         return made(state);
       },
       nullptr},
      {"one moved away, a new one in its place", plain,
       [&](const fs::path& root, const fs::path& state) {
         fs::rename(state, root / "moved");
         return made(state);
       },
       nullptr},
      {"one replaced by a symbolic link", plain,
       [&](const fs::path& root, const fs::path& state) {
         fs::remove_all(state);
         fs::create_directory_symlink(made(root / "elsewhere"), state);
         return root / "elsewhere";
       },
       nullptr},
      {"a symbolic link to it pointed elsewhere",
       [&](const fs::path& root) {
         fs::create_directory_symlink(made(root / "one"), root / "state");
         return root / "state";
       },
       [&](const fs::path& root, const fs::path& state) {
         link(state, made(root / "two"));
         return root / "two";
       },
       nullptr},
      {"no inotify instance to be had", plain, as_it_is, "instances"},
      {"the limit of watches reached", plain, as_it_is, "watches"},
  };
  int row_number = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path root = made(scratch_ / ("row-" + std::to_string(++row_number)));
    state_ = row.before(root);
    Environment env = environment();
    if (row.refused) {
      const char* asan = std::getenv("ASAN_OPTIONS");
      env.insert(env.end(), {{"LD_PRELOAD", program_path("librefused_inotify.so").string()},
                             {"TALLOW_REFUSED_INOTIFY", row.refused},
                             // A preloaded library comes before the sanitizer's runtime.
                             {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}});
    }
    const std::size_t registrations = watcher_->registrations().size();
    ChildProcess tray({(copied / "tallowmere-tray").string()}, env, root / "tray.log");
    const auto item = registered_item(registrations + 1);
    ASSERT_TRUE(item);
    ASSERT_TRUE(until_tooltip(*item, AgentStatus::not_enrolled(), Clock::now()));

    const fs::path agent_directory = row.change(root, state_);
    const auto started = Clock::now();
    ChildProcess agent({program_path("tallowmered").string(), "--state-directory=" + agent_directory.string()},
                       environment(), root / "agent.log");
    const auto shown = until_tooltip(*item, AgentStatus::running_elsewhere(), started);
    ASSERT_TRUE(agent.signal(SIGTERM));
    EXPECT_TRUE(agent.wait_for_exit(20s));
    const auto ended = Clock::now();
    const auto gone = until_tooltip(*item, AgentStatus::stopped(), ended);
    std::printf("  %-42s shown in %5lld ms, its end in %5lld ms\n", row.name,
                static_cast<long long>(shown.value_or(-1ms).count()), static_cast<long long>(gone.value_or(-1ms).count()));
    EXPECT_LE(shown.value_or(1h), kWithinThePace);
    EXPECT_LE(gone.value_or(1h), kWithinThePace);
    ASSERT_TRUE(tray.signal(SIGTERM));
    EXPECT_EQ(tray.wait_for_exit(30s), 0);
  }
}

// Its log is not what the tray watches: an agent that writes a line every 5 ms leaves the
// tray asleep.
TEST_F(StateDirectoryDesktop, AnAgentWritingItsLogEveryFewMillisecondsDoesNotWakeTheTray) {
  write_config();
  write_env("TALLOWMERED_LOG_EVERY_MS=5\n");
  auto tray = start_tray();
  const auto item = registered_item();
  ASSERT_TRUE(item);
  ASSERT_TRUE(until_tooltip(*item, AgentStatus::running(), Clock::now()));
  const fs::path log = state_ / "tallowmered.log";
  ASSERT_TRUE(wait_until([&] { return logged_lines(log) > 100; }));
  const std::size_t lines_before = logged_lines(log);
  const long woken = wake_ups_over(tray->pid(), 20s);
  std::printf("  the tray woke %ld times in 20 s while its agent logged %zu lines\n", woken,
              logged_lines(log) - lines_before);
  EXPECT_LE(woken, 5);
  EXPECT_GE(logged_lines(log) - lines_before, 2000u) << "the agent logged every 5 ms or so";
}

}  // namespace
}  // namespace tallow::test
