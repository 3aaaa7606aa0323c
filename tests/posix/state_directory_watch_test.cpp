// The state directory's watch, through to the refresh each change calls for: real files,
// other processes holding the lock, and the tray's own probes and reads, which must call
// for nothing (each refresh makes them).

#include "agent_side/agent_side.h"
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

#include "agent/refresh_triggers.h"
#include "platform/file.h"
#include "agent/state_files.h"
#include "support/posix/refused_inotify.h"
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

// What a watch told, in order.
struct Heard {
  platform::StateDirectoryWatch::Listener listener() {
    return [this](const Event& event) {
      std::lock_guard lock(mutex);
      events.push_back(event);
    };
  }
  // The first event that calls for a refresh.
  std::optional<Event> first_call() {
    std::lock_guard lock(mutex);
    for (const Event& event : events) {
      if (refresh_call(event) != RefreshCall::none) return event;
    }
    return std::nullopt;
  }
  // Waits for the first call, then forgets everything heard so far.
  bool wait_and_forget() {
    if (!test::wait_until([&] { return first_call().has_value(); })) return false;
    std::lock_guard lock(mutex);
    events.clear();
    return true;
  }
  // Waits for the first call and compares it; what calls for nothing is told apart from
  // what is slow to come by a change after it.
  void expect_first_call(const fs::path& dir, RefreshCall call, Change by, std::string_view file) {
    if (call == RefreshCall::none) test::write_file(dir / kConfigFileName, "{}");
    ASSERT_TRUE(test::wait_until([&] { return first_call().has_value(); }));
    const Event event = *first_call();
    EXPECT_EQ(refresh_call(event), call == RefreshCall::none ? RefreshCall::now : call);
    EXPECT_EQ(event, (Event{by, std::string(file)}));
  }

  std::mutex mutex;
  std::vector<Event> events;
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
       [](const fs::path& dir) { ASSERT_TRUE(agent_side::replace_file_atomically(dir / kConfigFileName, "{}")); },
       RefreshCall::now, Change::moved_in, kConfigFileName},
      {"status.json removed", write(kStatusFileName), [](const fs::path& dir) { fs::remove(dir / kStatusFileName); },
       RefreshCall::now, Change::removed, kStatusFileName},
      {"status.json renamed away", write(kStatusFileName),
       [](const fs::path& dir) { fs::rename(dir / kStatusFileName, dir / "old"); }, RefreshCall::now, Change::moved_out,
       kStatusFileName},
      {"the lock made by an agent", nullptr,
       [](const fs::path& dir) { ASSERT_TRUE(agent_side::lock_file_exclusively(dir / kLockFileName)); },
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
    Heard heard;
    auto watch = platform::StateDirectoryWatch::start(dir, std::string(kLockFileName), heard.listener());
    ASSERT_TRUE(watch) << watch.error().message;
    EXPECT_TRUE(watch.value()->watching());
    c.change(dir);
    heard.expect_first_call(dir, c.call, c.by, c.file);
    holder.reset();
  }
}

// A watch the system refuses says so and is set up when tried again, with the tray's own
// lock probes made meanwhile never taken for another process's; a symbolic link on the
// way is followed where it points now.
TEST(StateDirectoryWatch, ARefusedWatchSaysSoUntilSetUpAgainAndALinkIsFollowedWhereItPoints) {
  const auto link = [](const fs::path& at, const fs::path& to) {
    // As `ln -sfn` does: a new link renamed over the old one.
    fs::create_directory_symlink(to, at.string() + ".new");
    fs::rename(at.string() + ".new", at);
  };
  const auto plain = [](const fs::path& scratch) {
    fs::create_directories(scratch / "state");
    return scratch / "state";
  };
  std::optional<OtherHolder> holder;
  struct Row {
    const char* name;
    std::function<fs::path(const fs::path& scratch)> before;  // gives the path watched
    const char* refused;  // the end of the paths refused a watch while it starts; "" all, null none
    std::function<void(const fs::path& dir)> while_refused;
    std::function<void(const fs::path& scratch, Heard& heard)> change;  // after try_again()
    RefreshCall call;
    Change by;
    std::string_view file;
  };
  const Row rows[] = {
      {"every watch refused", plain, "", nullptr,
       [](const fs::path& scratch, Heard&) { test::write_file(scratch / "state" / kConfigFileName, "{}"); },
       RefreshCall::now, Change::created, kConfigFileName},
      {"the directory refused, not its parent", plain, "/state", nullptr,
       [](const fs::path& scratch, Heard&) { test::write_file(scratch / "state" / kStatusFileName, "{}"); },
       RefreshCall::now, Change::created, kStatusFileName},
      {"the lock file refused while the tray probes it",
       [&](const fs::path& scratch) {
         test::write_file(plain(scratch) / kLockFileName, "");
         return scratch / "state";
       },
       "/tallowmered.lock",
       [](const fs::path& dir) {
         for (int i = 0; i < 3; ++i) EXPECT_FALSE(platform::is_file_locked_elsewhere(dir / kLockFileName));
       },
       [&](const fs::path& scratch, Heard&) { holder.emplace(scratch / "state" / kLockFileName, O_RDONLY); },
       RefreshCall::once_the_lock_settles, Change::opened, kLockFileName},
      {"a link to it pointed elsewhere",
       [](const fs::path& scratch) {
         fs::create_directories(scratch / "one");
         fs::create_directories(scratch / "two");
         fs::create_directory_symlink(scratch / "one", scratch / "state");
         return scratch / "state";
       },
       nullptr, nullptr,
       [&](const fs::path& scratch, Heard& heard) {
         link(scratch / "state", "two");
         ASSERT_TRUE(heard.wait_and_forget());
         test::write_file(scratch / "two" / kConfigFileName, "{}");
       },
       RefreshCall::now, Change::created, kConfigFileName},
      {"a link on its way pointed elsewhere",
       [](const fs::path& scratch) {
         fs::create_directories(scratch / "one" / "state");
         fs::create_directories(scratch / "two" / "state");
         fs::create_directory_symlink(scratch / "one", scratch / "home");
         return scratch / "home" / "state";
       },
       nullptr, nullptr,
       [&](const fs::path& scratch, Heard& heard) {
         link(scratch / "home", scratch / "two");
         ASSERT_TRUE(heard.wait_and_forget());
         test::write_file(scratch / "two" / "state" / kStatusFileName, "{}");
       },
       RefreshCall::now, Change::created, kStatusFileName},
      {"a link to a directory made later",
       [](const fs::path& scratch) {
         fs::create_directory_symlink(scratch / "later" / "state", scratch / "state");
         return scratch / "state";
       },
       nullptr, nullptr,
       [](const fs::path& scratch, Heard&) { fs::create_directories(scratch / "later" / "state"); },
       RefreshCall::now, Change::directory_appeared, ""},
      {"the directory replaced by a link",
       plain, nullptr, nullptr,
       [&](const fs::path& scratch, Heard& heard) {
         fs::create_directories(scratch / "elsewhere");
         fs::rename(scratch / "state", scratch / "old");
         fs::create_directory_symlink(scratch / "elsewhere", scratch / "state");
         ASSERT_TRUE(heard.wait_and_forget());
         test::write_file(scratch / "elsewhere" / kConfigFileName, "{}");
       },
       RefreshCall::now, Change::created, kConfigFileName},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const test::TempDir scratch("refused");
    const fs::path dir = row.before(scratch.path());
    Heard heard;
    std::unique_ptr<platform::StateDirectoryWatch> watch;
    {
      std::optional<test::InotifyRefusal> refusal;
      if (row.refused) refusal.emplace(row.refused);
      auto started = platform::StateDirectoryWatch::start(dir, std::string(kLockFileName), heard.listener());
      ASSERT_TRUE(started) << started.error().message;
      watch = std::move(started).value();
      EXPECT_EQ(watch->watching(), row.refused == nullptr);
      if (row.while_refused) row.while_refused(dir);
      EXPECT_FALSE(watch->try_again() && row.refused);
    }
    EXPECT_TRUE(watch->try_again());
    EXPECT_TRUE(watch->watching());
    row.change(scratch.path(), heard);
    heard.expect_first_call(dir, row.call, row.by, row.file);
    holder.reset();
  }
}

}  // namespace
}  // namespace tallow
