// The state directory through inotify: the directory's own watch for the files made,
// written, renamed and removed in it, and one on the lock file for its opens and
// closes, read on a thread that sleeps in poll() until the kernel or the watch's end
// wakes it. The directory's watch asks for no opens and closes: the tray reads the JSON
// files on every refresh, and would wake itself for each.

#include "platform/state_directory_watch.h"

#include <poll.h>
#include <sys/inotify.h>

#include <cerrno>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "common/failure.h"
#include "platform/posix/followed_directory.h"
#include "platform/posix/lock_probe_count.h"
#include "platform/wake_event.h"

namespace tallow::platform {
namespace {

using posix::DirectoryNotice;

constexpr std::uint32_t kDirectoryMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE;
// Closed after writing arrives through the directory's watch.
constexpr std::uint32_t kLockMask = IN_OPEN | IN_CLOSE_NOWRITE;

// Whether the next of these events is one the probe counted, and if so, one fewer left.
bool take_own(const std::atomic<std::uint64_t>& counted, std::uint64_t& seen) {
  if (seen >= counted.load()) return false;
  ++seen;
  return true;
}

std::optional<StateDirectoryChange> directory_change(std::uint32_t mask) {
  if (mask & IN_CREATE) return StateDirectoryChange::created;
  if (mask & IN_CLOSE_WRITE) return StateDirectoryChange::written;
  if (mask & IN_MOVED_TO) return StateDirectoryChange::moved_in;
  if (mask & IN_MOVED_FROM) return StateDirectoryChange::moved_out;
  if (mask & IN_DELETE) return StateDirectoryChange::removed;
  return std::nullopt;
}

}  // namespace

struct StateDirectoryWatch::Impl {
  Impl(posix::FollowedDirectory watched, std::string lock, Listener heard,
       std::shared_ptr<posix::LockProbeCount> own, std::shared_ptr<WakeEvent> ending)
      : followed(std::move(watched)),
        lock_name(std::move(lock)),
        listener(std::move(heard)),
        probes(std::move(own)),
        stop(std::move(ending)),
        // Probes before the file had a watch sent it no notice.
        own_opens_seen(probes->opens.load()),
        own_closes_seen(probes->closes.load()),
        counted_since(followed.file_watch_generation()) {}

  void run();
  std::vector<StateDirectoryEvent> read_events();
  std::optional<StateDirectoryEvent> translate(const DirectoryNotice& notice);
  void keep_probe_counts_in_step();

  // The watch's thread reads through it, and the owner tries again through it.
  std::mutex mutex;
  posix::FollowedDirectory followed;
  const std::string lock_name;
  const Listener listener;
  const std::shared_ptr<posix::LockProbeCount> probes;
  const std::shared_ptr<WakeEvent> stop;
  std::uint64_t own_opens_seen;
  std::uint64_t own_closes_seen;
  std::uint64_t counted_since;  // the file watch's generation the counts above are for
  std::thread thread;
};

void StateDirectoryWatch::Impl::keep_probe_counts_in_step() {
  if (followed.file_watch_generation() == counted_since) return;
  // The lock file's watch changed (or the kernel dropped notices): the probe's opens and
  // closes meanwhile sent no notice. Counted as seen, they can no longer take another
  // process's open for one of the probe's; a notice of the probe's still on its way is
  // then taken for another's, which costs one refresh more and nothing else.
  own_opens_seen = probes->opens.load();
  own_closes_seen = probes->closes.load();
  counted_since = followed.file_watch_generation();
}

std::optional<StateDirectoryEvent> StateDirectoryWatch::Impl::translate(const DirectoryNotice& notice) {
  using Kind = DirectoryNotice::Kind;
  switch (notice.kind) {
    case Kind::appeared: return StateDirectoryEvent{StateDirectoryChange::directory_appeared, {}};
    case Kind::gone: return StateDirectoryEvent{StateDirectoryChange::directory_gone, {}};
    case Kind::overflow: return StateDirectoryEvent{StateDirectoryChange::events_lost, {}};
    case Kind::in_directory:
      if (const auto change = directory_change(notice.mask)) return StateDirectoryEvent{*change, notice.name};
      return std::nullopt;
    case Kind::on_file:
      keep_probe_counts_in_step();
      if (notice.mask & IN_OPEN) {
        return StateDirectoryEvent{StateDirectoryChange::opened, lock_name, take_own(probes->opens, own_opens_seen)};
      }
      if (notice.mask & IN_CLOSE_NOWRITE) {
        return StateDirectoryEvent{StateDirectoryChange::closed_unwritten, lock_name,
                                   take_own(probes->closes, own_closes_seen)};
      }
      return std::nullopt;
  }
  return std::nullopt;
}

void StateDirectoryWatch::Impl::run() {
  struct pollfd watched[2] = {{followed.descriptor(), POLLIN, 0},
                              {static_cast<int>(stop->native()), POLLIN, 0}};
  // Nothing may leave a thread of its own: a failure ends the watch, and the safety
  // refresh remains.
  run_background_work([&] {
    for (;;) {
      if (::poll(watched, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;  // the supervisor's safety refresh still runs
      }
      if (watched[1].revents != 0) return;
      if (watched[0].revents & (POLLERR | POLLNVAL)) return;
      // Told outside the lock: the listener asks for refreshes, which try the watch again.
      for (const StateDirectoryEvent& event : read_events()) listener(event);
    }
  });
}

std::vector<StateDirectoryEvent> StateDirectoryWatch::Impl::read_events() {
  std::vector<StateDirectoryEvent> events;
  std::lock_guard lock(mutex);
  followed.read([&](const DirectoryNotice& notice) {
    if (auto event = translate(notice)) events.push_back(std::move(*event));
  });
  return events;
}

Result<std::unique_ptr<StateDirectoryWatch>> StateDirectoryWatch::start(const std::filesystem::path& directory,
                                                                       const std::string& lock_name,
                                                                       Listener listener) {
  // Counted before the first watch exists, so no probe's open is ever taken for another's.
  auto probes = posix::count_lock_probes(directory / lock_name);
  auto followed = posix::FollowedDirectory::create(directory, kDirectoryMask, lock_name, kLockMask);
  if (!followed) return followed.error();
  auto stop = WakeEvent::create();
  if (!stop) return stop.error();
  auto impl = std::make_unique<Impl>(std::move(followed).value(), lock_name, std::move(listener),
                                     std::move(probes), std::move(stop).value());
  try {
    impl->thread = std::thread([raw = impl.get()] { raw->run(); });
  } catch (const std::system_error& error) {
    return Error{std::string("The state directory's watch has no thread: ") + error.what()};
  }
  return std::make_unique<StateDirectoryWatch>(std::move(impl));
}

StateDirectoryWatch::StateDirectoryWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

bool StateDirectoryWatch::watching() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->followed.watching();
}

bool StateDirectoryWatch::try_again() {
  std::lock_guard lock(impl_->mutex);
  return impl_->followed.try_again();
}

StateDirectoryWatch::~StateDirectoryWatch() {
  if (!impl_) return;
  impl_->stop->raise();
  if (impl_->thread.joinable()) impl_->thread.join();
}

}  // namespace tallow::platform
