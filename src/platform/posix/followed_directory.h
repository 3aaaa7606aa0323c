#pragma once
// An inotify watch on one directory that outlives the directory: while it is missing
// (not made yet, or removed later), its nearest existing ancestor is watched until the
// path exists again, so nothing has to poll for it. A path that passes through symbolic
// links is followed where the links lead, and each link's own directory is watched for
// that name, so a link pointed elsewhere moves the watch with it. One file in the
// directory may be watched as well, for what only a watch on the file itself reports:
// its opens and closes.
//
// A watch the system refuses (the per-user limit fs.inotify.max_user_watches used up,
// or a directory it may not read) is not a watch: watching() says so, and the owner
// polls meanwhile and calls try_again() on its own pace.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/file.h"

namespace tallow::platform::posix {

struct DirectoryNotice {
  enum class Kind {
    in_directory,  // `mask` happened to the file `name` in the directory
    on_file,       // `mask` happened to the watched file
    appeared,      // the directory exists and is watched again
    gone,          // the directory was removed or renamed away, or a link on its path changed
    overflow,      // the kernel dropped notices
  };
  Kind kind;
  std::uint32_t mask = 0;
  std::string name;
};
using NoticeListener = std::function<void(const DirectoryNotice&)>;

class FollowedDirectory {
 public:
  // Watches `directory` for `mask` (IN_CREATE, IN_CLOSE_WRITE…) and, when `file_name` is
  // given, the file of that name in it for `file_mask`. Fails only without an inotify
  // instance; watches the system refuses show in watching().
  static Result<FollowedDirectory> create(std::filesystem::path directory, std::uint32_t mask,
                                          std::string file_name = {}, std::uint32_t file_mask = 0);

  // Readable while notices wait (a non-blocking descriptor).
  int descriptor() const { return static_cast<int>(inotify_.native()); }

  // Reads every notice waiting, without blocking, and passes each on in order. The
  // watches follow what the notices tell (a directory gone, a file replaced, a link
  // pointed elsewhere).
  void read(const NoticeListener& notice);

  // Whether every change the owner asked for is reported: the directory (or, while it
  // is missing, the ancestor its making will show in), each link on its path, and the
  // file while it exists, all hold a watch.
  bool watching() const;
  // Sets up afresh whatever the system refused before; true once watching().
  bool try_again();

  // Changes whenever the file's watch is set, replaced or lost: notices of the file's
  // opens and closes may have been missed then (or an overflow dropped them).
  std::uint64_t file_watch_generation() const { return file_generation_; }

 private:
  struct LinkWatch {
    int wd;
    std::string name;
  };

  FollowedDirectory(File inotify, std::filesystem::path directory, std::uint32_t mask,
                    std::string file_name, std::uint32_t file_mask);

  // Watches the directory, or else its nearest existing ancestor, and every link on the
  // way; true when the directory itself is watched.
  bool arm();
  // One look along the path; where the directory is missing, `next_step` is the part of
  // its path that the watched ancestor would see made.
  bool arm_once(std::filesystem::path& next_step);
  void arm_file();
  void set_file_watch(int wd);
  void unwatch_all();
  void unwatch(int& wd);
  bool is_link_change(int wd, const std::string& name, std::uint32_t mask) const;
  void handle(std::uint32_t mask, int wd, const std::string& name, const NoticeListener& notice);
  void follow_again(std::uint32_t mask, const NoticeListener& notice);

  File inotify_;
  std::filesystem::path directory_;
  std::uint32_t mask_;
  std::string file_name_;
  std::uint32_t file_mask_;
  // Where the directory's path leads now, links followed.
  std::filesystem::path target_;
  int directory_wd_ = -1;
  int ancestor_wd_ = -1;
  int file_wd_ = -1;
  std::vector<LinkWatch> links_;
  bool link_refused_ = false;
  bool file_refused_ = false;
  std::uint64_t file_generation_ = 0;
};

}  // namespace tallow::platform::posix
