#pragma once
// An inotify watch on one directory that outlives the directory: while it is missing
// (not made yet, or removed later), its nearest existing ancestor is watched until the
// path exists again, so nothing has to poll for it. One file in it may be watched as
// well, for what only a watch on the file itself reports: its opens and closes.

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
    gone,          // the directory was removed or renamed away
    overflow,      // the kernel dropped notices
  };
  Kind kind;
  std::uint32_t mask = 0;
  std::string name;
};

class FollowedDirectory {
 public:
  // Watches `directory` for `mask` (IN_CREATE, IN_CLOSE_WRITE…) and, when `file_name` is
  // given, the file of that name in it for `file_mask`. Fails only without inotify.
  static Result<FollowedDirectory> create(std::filesystem::path directory, std::uint32_t mask,
                                          std::string file_name = {}, std::uint32_t file_mask = 0);

  // Readable while notices wait (a non-blocking descriptor).
  int descriptor() const { return static_cast<int>(inotify_.native()); }

  // Reads every notice waiting, without blocking, and passes each on in order. The
  // watches follow what the notices tell (a directory gone, a file replaced).
  void read(const std::function<void(const DirectoryNotice&)>& notice);

 private:
  FollowedDirectory(File inotify, std::filesystem::path directory, std::uint32_t mask,
                    std::string file_name, std::uint32_t file_mask);

  // Watches the directory, or else its nearest existing ancestor; true for the directory.
  bool arm();
  void arm_file();
  void unwatch(int& wd);
  void handle(std::uint32_t mask, int wd, const std::string& name,
              const std::function<void(const DirectoryNotice&)>& notice);

  File inotify_;
  std::filesystem::path directory_;
  std::uint32_t mask_;
  std::string file_name_;
  std::uint32_t file_mask_;
  int directory_wd_ = -1;
  int ancestor_wd_ = -1;
  int file_wd_ = -1;
};

}  // namespace tallow::platform::posix
