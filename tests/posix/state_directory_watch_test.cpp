// The state directory's watch, through to the refresh each change calls for: real files,
// other processes holding the lock, and the tray's own probes and reads, which must call
// for nothing (each refresh makes them).

#include "platform/state_directory_watch.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <vector>

#include "daemon/refresh_triggers.h"
#include "platform/file.h"
#include "settings/state_files.h"
#include "support/test_support.h"

namespace tallow::platform {

// One event a line when a comparison fails.
void PrintTo(const StateDirectoryEvent& event, std::ostream* out) {
  *out << "change " << static_cast<int>(event.change) << " of \"" << event.name << "\""
       << (event.by_own_probe ? " by the probe" : "");
}

}  // namespace tallow::platform

namespace tallow {
namespace {

using Change = platform::StateDirectoryChange;
using Event = platform::StateDirectoryEvent;
namespace fs = std::filesystem;

// Another process that opens the lock file as asked and locks it, until end().
struct OtherHolder {
  OtherHolder(const fs::path& lock, int open_flags) {
    int release[2];
    if (::pipe2(release, O_CLOEXEC) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(lock.c_str(), open_flags | O_CLOEXEC);
      if (fd >= 0) ::flock(fd, LOCK_EX);
      ::close(release[1]);
      char ignored;
      (void)!::read(release[0], &ignored, 1);  // until the test closes its end
      ::_exit(0);
    }
    ::close(release[0]);
    release_end = release[1];
  }
  ~OtherHolder() { end(); }
  // Ends the process; the kernel closes its descriptor.
  void end() {
    if (release_end < 0) return;
    ::close(release_end);
    ::waitpid(pid, nullptr, 0);
    release_end = -1;
  }
  pid_t pid = -1;
  int release_end = -1;
};

struct Case {
  const char* name;
  std::function<void(const fs::path& dir)> before;  // before the watch starts
  std::function<void(const fs::path& dir)> change;
  // The first event that calls for a refresh, and its call; none for "nothing before a
  // later rewrite of config.json".
  RefreshCall call;
  Change by;
  std::string_view file;
};

TEST(StateDirectoryWatch, EachChangeCallsForTheRefreshItNeedsAndTheTraysOwnReadsForNone) {
  const auto write = [](std::string_view name) { return [name](const fs::path& dir) { test::write_file(dir / name, "{}"); }; };
  std::optional<OtherHolder> holder;
  const auto hold = [&holder](int flags) {
    return [&holder, flags](const fs::path& dir) { holder.emplace(dir / kLockFileName, flags); };
  };
  // Held before the watch starts: its open is not one of the watch's events.
  const auto held = [&holder](int flags) {
    return [&holder, flags](const fs::path& dir) {
      holder.emplace(dir / kLockFileName, flags);
      ASSERT_TRUE(test::wait_until([&] { return platform::is_file_locked_elsewhere(dir / kLockFileName); }));
    };
  };
  const auto end_holder = [&holder](const fs::path&) { holder->end(); };
  const auto lock_file = write(kLockFileName);
  const auto both = [](auto first, auto second) { return [=](const fs::path& dir) { first(dir); second(dir); }; };
  const Case cases[] = {
      {"config.json created", nullptr, write(kConfigFileName), RefreshCall::now, Change::created, kConfigFileName},
      {"status.json written where it was", write(kStatusFileName), write(kStatusFileName), RefreshCall::now,
       Change::written, kStatusFileName},
      {"config.json renamed over", write(kConfigFileName),
       [](const fs::path& dir) { ASSERT_TRUE(platform::replace_file_atomically(dir / kConfigFileName, "{}")); },
       RefreshCall::now, Change::moved_in, kConfigFileName},
      {"status.json removed", write(kStatusFileName), [](const fs::path& dir) { fs::remove(dir / kStatusFileName); },
       RefreshCall::now, Change::removed, kStatusFileName},
      {"status.json renamed away", write(kStatusFileName),
       [](const fs::path& dir) { fs::rename(dir / kStatusFileName, dir / "old"); }, RefreshCall::now, Change::moved_out,
       kStatusFileName},
      {"the lock made by an agent", nullptr,
       [](const fs::path& dir) { ASSERT_TRUE(platform::lock_file_exclusively(dir / kLockFileName)); },
       RefreshCall::once_the_lock_settles, Change::created, kLockFileName},
      {"the lock opened by another process to write", lock_file, hold(O_RDWR), RefreshCall::once_the_lock_settles,
       Change::opened, kLockFileName},
      {"the lock opened by another process to read", lock_file, hold(O_RDONLY), RefreshCall::once_the_lock_settles,
       Change::opened, kLockFileName},
      {"the writing holder ends", both(lock_file, held(O_RDWR)), end_holder, RefreshCall::once_the_lock_settles,
       Change::written, kLockFileName},
      {"the reading holder ends", both(lock_file, held(O_RDONLY)), end_holder, RefreshCall::once_the_lock_settles,
       Change::closed_unwritten, kLockFileName},
      {"the tray's own lock probes", both(lock_file, write(kConfigFileName)),
       [](const fs::path& dir) {
         for (int i = 0; i < 3; ++i) EXPECT_FALSE(platform::is_file_locked_elsewhere(dir / kLockFileName));
       },
       RefreshCall::none, Change::written, kConfigFileName},
      {"the tray's own reads", both(write(kStatusFileName), write(kConfigFileName)),
       [](const fs::path& dir) {
         for (int i = 0; i < 3; ++i) (void)read_hub_url(dir), (void)read_status_file(dir);
       },
       RefreshCall::none, Change::written, kConfigFileName},
      {"other files written", write(kConfigFileName), both(write(kEnvFileName), write("tallowmered.log")),
       RefreshCall::none, Change::written, kConfigFileName},
      {"the directory and its parent made", [](const fs::path& dir) { fs::remove_all(dir.parent_path()); },
       [](const fs::path& dir) { fs::create_directories(dir); }, RefreshCall::now, Change::directory_appeared, ""},
      {"the directory removed", nullptr, [](const fs::path& dir) { fs::remove_all(dir); }, RefreshCall::now,
       Change::directory_gone, ""},
      {"the directory renamed away", nullptr, [](const fs::path& dir) { fs::rename(dir, dir.parent_path() / "old"); },
       RefreshCall::now, Change::directory_gone, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const test::TempDir scratch("watch");
    const fs::path dir = scratch / "parent" / "state";
    fs::create_directories(dir);
    if (c.before) c.before(dir);
    std::mutex mutex;
    std::vector<Event> heard;
    const auto first_call = [&]() -> std::optional<Event> {
      std::lock_guard lock(mutex);
      for (const Event& event : heard) {
        if (refresh_call(event) != RefreshCall::none) return event;
      }
      return std::nullopt;
    };
    auto watch = platform::StateDirectoryWatch::start(dir, std::string(kLockFileName), [&](const Event& event) {
      std::lock_guard lock(mutex);
      heard.push_back(event);
    });
    ASSERT_TRUE(watch) << watch.error().message;
    c.change(dir);
    // What calls for nothing is told apart from what is slow to come by a change after it.
    if (c.call == RefreshCall::none) test::write_file(dir / kConfigFileName, "{}");
    ASSERT_TRUE(test::wait_until([&] { return first_call().has_value(); }));
    const Event event = *first_call();
    EXPECT_EQ(refresh_call(event), c.call == RefreshCall::none ? RefreshCall::now : c.call);
    EXPECT_EQ(event, (Event{c.by, std::string(c.file)}));
    holder.reset();
  }
}

}  // namespace
}  // namespace tallow
