#include "platform/posix/followed_directory.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/os_error.h"

namespace tallow::platform::posix {
namespace {

// The directory's own end, watched whatever the caller asked for.
constexpr std::uint32_t kOwnEnd = IN_DELETE_SELF | IN_MOVE_SELF;
// What makes the next step towards a missing directory, or ends the ancestor itself.
constexpr std::uint32_t kAncestorMask = IN_CREATE | IN_MOVED_TO | kOwnEnd | IN_ONLYDIR;
// Each round ends with the ancestor watched before the next step was looked for; more
// rounds happen only while steps are made (or removed) as fast as they are watched.
constexpr int kMostRounds = 64;

bool names_directory(const std::filesystem::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

Result<FollowedDirectory> FollowedDirectory::create(std::filesystem::path directory, std::uint32_t mask,
                                                    std::string file_name, std::uint32_t file_mask) {
  File inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!inotify.valid()) return last_os_error();
  FollowedDirectory followed(std::move(inotify), std::move(directory), mask, std::move(file_name), file_mask);
  followed.arm();
  return followed;
}

FollowedDirectory::FollowedDirectory(File inotify, std::filesystem::path directory, std::uint32_t mask,
                                     std::string file_name, std::uint32_t file_mask)
    : inotify_(std::move(inotify)),
      directory_(std::move(directory)),
      mask_(mask),
      file_name_(std::move(file_name)),
      file_mask_(file_mask) {}

void FollowedDirectory::unwatch(int& wd) {
  // Fails harmlessly for a watch the kernel has ended already (its file is gone): the
  // kernel numbers watches upwards and gives an ended one's number to no other soon.
  if (wd >= 0) ::inotify_rm_watch(descriptor(), wd);
  wd = -1;
}

bool FollowedDirectory::arm() {
  unwatch(directory_wd_);
  unwatch(ancestor_wd_);
  // The directory and its ancestors, nearest first.
  std::vector<std::filesystem::path> chain{directory_};
  for (auto parent = directory_.parent_path(); !parent.empty() && parent != chain.back();
       parent = parent.parent_path()) {
    chain.push_back(parent);
  }
  if (directory_.is_relative()) chain.emplace_back(".");
  for (int round = 0; round < kMostRounds; ++round) {
    const int wd = ::inotify_add_watch(descriptor(), directory_.c_str(), mask_ | kOwnEnd | IN_ONLYDIR);
    if (wd >= 0) {
      directory_wd_ = wd;
      arm_file();
      return true;
    }
    std::size_t step = 1;
    for (; step < chain.size() && ancestor_wd_ < 0; ++step) {
      ancestor_wd_ = ::inotify_add_watch(descriptor(), chain[step].c_str(), kAncestorMask);
    }
    // Nothing to watch at all (no ancestor may be read): the caller's own clock remains.
    if (ancestor_wd_ < 0) return false;
    // A step made between looking and watching sent no notice: look again.
    if (round + 1 == kMostRounds || !names_directory(chain[step - 2])) return false;
    unwatch(ancestor_wd_);
  }
  return false;
}

void FollowedDirectory::arm_file() {
  if (file_name_.empty() || directory_wd_ < 0) return;
  const int wd = ::inotify_add_watch(descriptor(), (directory_ / file_name_).c_str(), file_mask_);
  // The same file keeps its watch; another one under the name replaces it.
  if (wd == file_wd_) return;
  unwatch(file_wd_);
  file_wd_ = wd;  // -1 while there is no such file
}

void FollowedDirectory::read(const std::function<void(const DirectoryNotice&)>& notice) {
  alignas(inotify_event) char buffer[8 * 1024];
  for (;;) {
    const ssize_t got = ::read(descriptor(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;  // EAGAIN: all read
    for (const char* at = buffer; at < buffer + got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      at += sizeof(inotify_event) + event->len;
      handle(event->mask, event->wd, event->len > 0 ? std::string(event->name) : std::string(), notice);
    }
  }
}

void FollowedDirectory::handle(std::uint32_t mask, int wd, const std::string& name,
                               const std::function<void(const DirectoryNotice&)>& notice) {
  using Kind = DirectoryNotice::Kind;
  if (mask & IN_Q_OVERFLOW) {
    // Whatever the lost notices said, the watches are set up afresh.
    arm();
    notice({Kind::overflow, mask, {}});
    return;
  }
  if (wd < 0) return;
  if (wd == directory_wd_) {
    if (mask & (kOwnEnd | IN_UNMOUNT | IN_IGNORED)) {
      // Renamed away, the watch would follow the directory elsewhere; removed, the
      // kernel has ended it. Either way the path is followed from now on.
      unwatch(file_wd_);
      const bool back = arm();
      notice({Kind::gone, mask, {}});
      if (back) notice({Kind::appeared, 0, {}});
      return;
    }
    if (!file_name_.empty() && name == file_name_) {
      if (mask & (IN_CREATE | IN_MOVED_TO)) arm_file();
      if (mask & (IN_DELETE | IN_MOVED_FROM)) unwatch(file_wd_);
    }
    notice({Kind::in_directory, mask, name});
  } else if (wd == ancestor_wd_) {
    // A step towards the directory was made, or the ancestor itself went: look again.
    if (arm()) notice({Kind::appeared, 0, {}});
  } else if (wd == file_wd_) {
    if (mask & IN_IGNORED) {
      file_wd_ = -1;
      return;
    }
    notice({Kind::on_file, mask, {}});
  }
  // Any other watch was ended already; its last notices come late and mean nothing now.
}

}  // namespace tallow::platform::posix
