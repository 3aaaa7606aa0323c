#include "platform/posix/followed_directory.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <system_error>

#include "platform/os_error.h"

namespace tallow::platform::posix {
namespace {

namespace fs = std::filesystem;

// The directory's own end, watched whatever the caller asked for.
constexpr std::uint32_t kOwnEnd = IN_DELETE_SELF | IN_MOVE_SELF;
// What makes the next step towards a missing directory, or ends the ancestor itself.
constexpr std::uint32_t kAncestorMask = IN_CREATE | IN_MOVED_TO | kOwnEnd | IN_ONLYDIR;
// A link's own directory: the link made, removed or replaced (`ln -sfn` renames a new
// link over the old one), or that directory itself gone.
constexpr std::uint32_t kLinkMask = IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | kOwnEnd | IN_ONLYDIR;
// Each round ends with the ancestor watched before the next step was looked for; more
// rounds happen only while steps are made (or removed) as fast as they are watched.
constexpr int kMostRounds = 64;
// The kernel's own bound on the links one lookup follows.
constexpr int kMostLinks = 40;

// Every watch is added with IN_MASK_ADD: two roles may fall on one directory (a link's
// directory that is also the nearest ancestor of a missing target), and a plain add
// would replace the mask the other role asked for.
int add_watch(int inotify, const fs::path& path, std::uint32_t mask) {
  return ::inotify_add_watch(inotify, path.c_str(), mask | IN_MASK_ADD);
}

// A path that does not name a directory yet, as opposed to one the system will not watch.
bool is_missing(int error) { return error == ENOENT || error == ENOTDIR; }

// Where an absolute path leads, resolved as the kernel does, one component at a time:
// the place it names (as far as it exists, with the rest appended as written), and each
// symbolic link met on the way, as its own directory and name there.
struct Way {
  struct Link {
    fs::path directory;
    std::string name;
  };
  fs::path target;
  std::vector<Link> links;
};

Way follow_links(const fs::path& path) {
  Way way;
  const fs::path relative = path.relative_path();
  std::deque<fs::path> rest(relative.begin(), relative.end());
  // Missing (or a loop of links): the rest stays as written, for the ancestor's watch.
  const auto ends_at = [&way, &rest](fs::path at) {
    for (const fs::path& remaining : rest) at /= remaining;
    way.target = at.lexically_normal();
    return way;
  };
  fs::path at = path.root_path();
  int links = 0;
  while (!rest.empty()) {
    const fs::path part = std::move(rest.front());
    rest.pop_front();
    if (part.empty() || part == ".") continue;
    // `at` holds no link, so its parent is where ".." leads.
    if (part == "..") {
      at = at.parent_path();
      continue;
    }
    const fs::path next = at / part;
    struct stat info;
    if (::lstat(next.c_str(), &info) != 0) return ends_at(next);
    if (!S_ISLNK(info.st_mode)) {
      at = next;
      continue;
    }
    std::error_code error;
    const fs::path link_target = fs::read_symlink(next, error);
    if (error || ++links > kMostLinks) return ends_at(next);
    way.links.push_back({at, part.string()});
    const fs::path link_relative = link_target.relative_path();
    rest.insert(rest.begin(), link_relative.begin(), link_relative.end());
    if (link_target.is_absolute()) at = link_target.root_path();
  }
  way.target = at;
  return way;
}

}  // namespace

Result<FollowedDirectory> FollowedDirectory::create(fs::path directory, std::uint32_t mask, std::string file_name,
                                                    std::uint32_t file_mask) {
  File inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!inotify.valid()) return last_os_error();
  // Relative to where the tray started, once: links are resolved from the root.
  std::error_code error;
  if (fs::path absolute = fs::absolute(directory, error); !error) directory = std::move(absolute);
  FollowedDirectory followed(std::move(inotify), std::move(directory), mask, std::move(file_name), file_mask);
  followed.arm();
  return followed;
}

FollowedDirectory::FollowedDirectory(File inotify, fs::path directory, std::uint32_t mask, std::string file_name,
                                     std::uint32_t file_mask)
    : inotify_(std::move(inotify)),
      directory_(std::move(directory)),
      mask_(mask),
      file_name_(std::move(file_name)),
      file_mask_(file_mask) {}

bool FollowedDirectory::watching() const {
  return (directory_wd_ >= 0 || ancestor_wd_ >= 0) && !link_refused_ && !file_refused_;
}

bool FollowedDirectory::try_again() {
  if (!watching()) arm();
  return watching();
}

void FollowedDirectory::unwatch(int& wd) {
  // Fails harmlessly for a watch the kernel has ended already (its file is gone), or one
  // that two roles shared and the other role removed: the kernel numbers watches
  // upwards and gives an ended one's number to no other soon.
  if (wd >= 0) ::inotify_rm_watch(descriptor(), wd);
  wd = -1;
}

void FollowedDirectory::unwatch_all() {
  set_file_watch(-1);
  file_refused_ = false;
  unwatch(directory_wd_);
  unwatch(ancestor_wd_);
  for (LinkWatch& link : links_) unwatch(link.wd);
  links_.clear();
  link_refused_ = false;
}

bool FollowedDirectory::arm() {
  unwatch_all();
  for (int round = 0; round < kMostRounds; ++round) {
    fs::path next_step;
    if (arm_once(next_step)) return true;
    // A step made between looking and watching sent no notice: look again.
    if (std::error_code ignored; ancestor_wd_ < 0 || !fs::is_directory(next_step, ignored)) return false;
    unwatch_all();
  }
  return false;
}

bool FollowedDirectory::arm_once(fs::path& next_step) {
  const Way way = follow_links(directory_);
  target_ = way.target;
  for (const Way::Link& link : way.links) {
    const int wd = add_watch(descriptor(), link.directory, kLinkMask);
    if (wd >= 0) {
      links_.push_back({wd, link.name});
    } else {
      link_refused_ = true;
    }
  }
  const int wd = add_watch(descriptor(), target_, mask_ | kOwnEnd | IN_ONLYDIR);
  if (wd >= 0) {
    directory_wd_ = wd;
    arm_file();
    return true;
  }
  // There, but refused a watch: nothing short of polling sees its changes.
  if (!is_missing(errno)) return false;
  // Missing: its nearest existing ancestor shows the next step towards it being made.
  next_step = target_;
  for (fs::path ancestor = target_.parent_path();; next_step = ancestor, ancestor = ancestor.parent_path()) {
    ancestor_wd_ = add_watch(descriptor(), ancestor, kAncestorMask);
    if (ancestor_wd_ >= 0 || !is_missing(errno) || ancestor == ancestor.parent_path()) return false;
  }
}

void FollowedDirectory::arm_file() {
  if (file_name_.empty()) return;
  const int wd = ::inotify_add_watch(descriptor(), (target_ / file_name_).c_str(), file_mask_);
  // No such file is no refusal: its making shows in the directory's watch, which sets
  // this one up then.
  file_refused_ = wd < 0 && errno != ENOENT;
  set_file_watch(wd);
}

void FollowedDirectory::set_file_watch(int wd) {
  // The same file keeps its watch; another one under the name replaces it.
  if (wd == file_wd_) return;
  unwatch(file_wd_);
  file_wd_ = wd;
  ++file_generation_;
}

bool FollowedDirectory::is_link_change(int wd, const std::string& name, std::uint32_t mask) const {
  for (const LinkWatch& link : links_) {
    if (link.wd == wd && (name == link.name || (mask & (kOwnEnd | IN_UNMOUNT | IN_IGNORED)))) return true;
  }
  return false;
}

void FollowedDirectory::follow_again(std::uint32_t mask, const NoticeListener& notice) {
  const bool back = arm();
  notice({DirectoryNotice::Kind::gone, mask, {}});
  if (back) notice({DirectoryNotice::Kind::appeared, 0, {}});
}

void FollowedDirectory::read(const NoticeListener& notice) {
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

void FollowedDirectory::handle(std::uint32_t mask, int wd, const std::string& name, const NoticeListener& notice) {
  using Kind = DirectoryNotice::Kind;
  if (mask & IN_Q_OVERFLOW) {
    // Whatever the lost notices said, the watches are set up afresh.
    arm();
    notice({Kind::overflow, mask, {}});
    return;
  }
  if (wd < 0) return;
  // A link on the way pointed elsewhere: the directory is now another one.
  if (is_link_change(wd, name, mask)) return follow_again(mask, notice);
  if (wd == directory_wd_) {
    // Renamed away, the watch would follow the directory elsewhere; removed, the
    // kernel has ended it. Either way the path is followed from now on.
    if (mask & (kOwnEnd | IN_UNMOUNT | IN_IGNORED)) return follow_again(mask, notice);
    if (!file_name_.empty() && name == file_name_) {
      if (mask & (IN_CREATE | IN_MOVED_TO)) arm_file();
      if (mask & (IN_DELETE | IN_MOVED_FROM)) {
        set_file_watch(-1);
        file_refused_ = false;
      }
    }
    notice({Kind::in_directory, mask, name});
  } else if (wd == ancestor_wd_) {
    // A step towards the directory was made, or the ancestor itself went: look again.
    if (arm()) notice({Kind::appeared, 0, {}});
  } else if (wd == file_wd_) {
    if (mask & IN_IGNORED) {
      set_file_watch(-1);
      return;
    }
    notice({Kind::on_file, mask, {}});
  }
  // Any other watch was ended already; its last notices come late and mean nothing now.
}

}  // namespace tallow::platform::posix
