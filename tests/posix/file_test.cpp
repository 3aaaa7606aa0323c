// Files on Linux: reads that never block, the flock probe of the agent's lock file,
// and the tray's own writes.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "agent_side/agent_side.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "support/test_support.h"

namespace tallow::platform {
namespace {

using agent_side::lock_file_exclusively;
using agent_side::replace_file_atomically;
using namespace std::chrono_literals;
using test::read_file;
using test::TempDir;
using test::write_file;

File open_raw(const std::filesystem::path& path, int flags) {
  return File(::open(path.c_str(), flags | O_CLOEXEC, 0644));
}

int fd_of(const File& file) { return static_cast<int>(file.native()); }

std::size_t entries_in(const std::filesystem::path& directory) {
  std::size_t count = 0;
  for (auto it = std::filesystem::directory_iterator(directory); it != decltype(it)(); ++it) ++count;
  return count;
}

// Runs `read` on a FIFO nobody writes to and says whether it came back in time.
template <typename Read>
bool returns_promptly_on_fifo(Read read) {
  TempDir dir;
  const auto fifo = dir / "fifo";
  if (::mkfifo(fifo.c_str(), 0600) != 0) return false;
  const auto start = std::chrono::steady_clock::now();
  read(fifo);
  return std::chrono::steady_clock::now() - start < 5s;
}

TEST(PosixFile, MoveAndResetCloseTheDescriptor) {
  File first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(first.valid());
  const int fd = fd_of(first);
  File second(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int second_fd = fd_of(second);
  second = std::move(first);
  EXPECT_FALSE(first.valid());
  EXPECT_EQ(fd_of(second), fd);
  EXPECT_EQ(::fcntl(second_fd, F_GETFD), -1) << "the overwritten descriptor is closed";
  second.reset();
  EXPECT_FALSE(second.valid());
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}

TEST(PosixReadRegularFile, NeverBlocksAndRefusesWhatIsNotARegularFile) {
  EXPECT_TRUE(returns_promptly_on_fifo([](const std::filesystem::path& fifo) {
    EXPECT_EQ(read_regular_file(fifo, 1024), std::nullopt);
  }));
  EXPECT_EQ(read_regular_file("/dev/zero", 1024), std::nullopt);
  EXPECT_EQ(read_regular_file("/dev/null", 1024), std::nullopt);
  TempDir dir;
  EXPECT_EQ(read_regular_file(dir.path(), 1024), std::nullopt);
  EXPECT_EQ(read_regular_file(dir / "missing", 1024), std::nullopt);
}

TEST(PosixReadRegularFile, ReadsUpToTheLimitAndNoMore) {
  TempDir dir;
  const auto path = dir / "status.json";
  write_file(path, "0123456789");
  struct Case {
    std::size_t max_bytes;
    bool present;
  };
  for (const Case c : {Case{10, true}, Case{11, true}, Case{SIZE_MAX, true}, Case{9, false}, Case{0, false}}) {
    const auto content = read_regular_file(path, c.max_bytes);
    EXPECT_EQ(content.has_value(), c.present) << c.max_bytes;
    if (content) {
      EXPECT_EQ(*content, "0123456789");
    }
  }
  write_file(path, "");
  EXPECT_EQ(read_regular_file(path, 0), "");
}

TEST(PosixReadRegularFile, ReadsAFileLargerThanOneChunk) {
  TempDir dir;
  std::string big(300 * 1024 + 17, 'x');
  for (std::size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>('a' + i % 26);
  write_file(dir / "big", big);
  EXPECT_EQ(read_regular_file(dir / "big", big.size()), big);
  EXPECT_EQ(read_regular_file(dir / "big", big.size() - 1), std::nullopt);
}

TEST(PosixReadRegularFile, KernelFilesWithoutASizeAreReadWhole) {
  // /proc files report size 0; the content counts, not the size.
  const auto status = read_regular_file("/proc/self/status", 1 << 20);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->rfind("Name:", 0), 0u);
}

TEST(PosixLockProbe, MissingFifoAndDirectoryAreNotLocked) {
  TempDir dir;
  EXPECT_FALSE(is_file_locked_elsewhere(dir / "missing"));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing")) << "the probe never creates";
  EXPECT_FALSE(is_file_locked_elsewhere(dir.path()));
  EXPECT_TRUE(returns_promptly_on_fifo([](const std::filesystem::path& fifo) {
    EXPECT_FALSE(is_file_locked_elsewhere(fifo));
  }));
}

TEST(PosixLockProbe, SeesAFlockOfAnotherOpenFileAndLeavesTheFileUnlocked) {
  TempDir dir;
  const auto path = dir / "agent.lock";
  write_file(path, "");
  EXPECT_FALSE(is_file_locked_elsewhere(path));
  {
    // flock belongs to the open file description, so a second open in this very
    // process conflicts with it just as another process would.
    const File holder = open_raw(path, O_RDONLY);
    ASSERT_EQ(::flock(fd_of(holder), LOCK_EX | LOCK_NB), 0);
    EXPECT_TRUE(is_file_locked_elsewhere(path));
    const File shared_holder = open_raw(path, O_RDONLY);
    EXPECT_TRUE(is_file_locked_elsewhere(path));
  }
  EXPECT_FALSE(is_file_locked_elsewhere(path));
  // The probe released what it took: the file can be locked afterwards.
  const File after = open_raw(path, O_RDONLY);
  EXPECT_EQ(::flock(fd_of(after), LOCK_EX | LOCK_NB), 0);
}

TEST(PosixLockProbe, SeesALockHeldByAnotherProcess) {
  TempDir dir;
  const auto path = dir / "agent.lock";
  write_file(path, "");
  int ready[2], release[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(release, O_CLOEXEC), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ::close(release[1]);  // or the wait below would never see the end of the pipe
    ::close(ready[0]);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const char ok = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
    (void)!::write(ready[1], &ok, 1);
    char ignored;
    (void)!::read(release[0], &ignored, 1);  // until the test closes its end
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  EXPECT_TRUE(is_file_locked_elsewhere(path));
  EXPECT_FALSE(lock_file_exclusively(path).ok());

  ::close(release[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);
  ::close(ready[0]);
  EXPECT_FALSE(is_file_locked_elsewhere(path));
}

TEST(PosixLockFile, CreatesLocksAndRefusesASecondHolder) {
  TempDir dir;
  const auto path = dir / "sub-agent.lock";
  {
    auto first = lock_file_exclusively(path);
    ASSERT_TRUE(first.ok()) << first.error().message;
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(is_file_locked_elsewhere(path));
    auto second = lock_file_exclusively(path);
    ASSERT_FALSE(second.ok());
    EXPECT_NE(second.error().message.find("(os error 11)"), std::string::npos) << second.error().message;
  }
  EXPECT_FALSE(is_file_locked_elsewhere(path));
  EXPECT_TRUE(lock_file_exclusively(path).ok());
}

TEST(PosixCreateDirectories, MakesEveryParentAndAcceptsAnExistingDirectory) {
  TempDir dir;
  const auto deep = dir / "a" / "b" / "c";
  ASSERT_TRUE(platform::create_directories(deep).ok());
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  EXPECT_TRUE(platform::create_directories(deep).ok());
  EXPECT_TRUE(platform::create_directories(dir / "a" / "b" / "d" / "").ok());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a" / "b" / "d"));

  write_file(dir / "file", "x");
  const auto in_the_way = platform::create_directories(dir / "file");
  ASSERT_FALSE(in_the_way.ok());
  EXPECT_NE(in_the_way.error().message.find("(os error 20)"), std::string::npos);
  const auto below_file = platform::create_directories(dir / "file" / "sub");
  ASSERT_FALSE(below_file.ok());
  EXPECT_NE(below_file.error().message.find("(os error 20)"), std::string::npos);
}

TEST(PosixOpenLog, AppendsWithoutTruncatingAndIsNotInherited) {
  TempDir dir;
  const auto path = dir / "agent.log";
  write_file(path, "old\n");
  auto log = open_log_for_append(path);
  ASSERT_TRUE(log.ok()) << log.error().message;
  const int fd = fd_of(log.value());
  EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_NE(::fcntl(fd, F_GETFL) & O_APPEND, 0);
  ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
  ASSERT_EQ(::write(fd, "new\n", 4), 4);
  EXPECT_EQ(read_file(path), "old\nnew\n");

  auto fresh = open_log_for_append(dir / "fresh.log");
  ASSERT_TRUE(fresh.ok());
  EXPECT_TRUE(std::filesystem::exists(dir / "fresh.log"));
  EXPECT_FALSE(open_log_for_append(dir / "missing" / "x.log").ok());
}

TEST(PosixOpenLog, RefusesAFifoOrADeviceWithoutBlockingAndWritesBlockingToAFile) {
  TempDir dir;
  const auto fifo = dir / "tallowmered.log";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(returns_promptly_on_fifo([&](const std::filesystem::path&) {
    const auto log = open_log_for_append(fifo);
    ASSERT_FALSE(log.ok());
    EXPECT_EQ(log.error().message, path_text(fifo) + " is not a regular file");
  }));
  const auto device = open_log_for_append("/dev/null");
  ASSERT_FALSE(device.ok());
  EXPECT_EQ(device.error().message, "/dev/null is not a regular file");
  // The agent inherits the open file: it must not see it non-blocking.
  const auto log = open_log_for_append(dir / "plain.log");
  ASSERT_TRUE(log.ok()) << log.error().message;
  EXPECT_EQ(::fcntl(fd_of(log.value()), F_GETFL) & O_NONBLOCK, 0);
}

TEST(PosixReplaceFile, ReplacesWholeAndLeavesNoTemporaryFile) {
  TempDir dir;
  const auto path = dir / "state.json";
  ASSERT_TRUE(replace_file_atomically(path, "first, and longer").ok());
  EXPECT_EQ(read_file(path), "first, and longer");
  // A reader holding the old file keeps the old content: the file was replaced, not rewritten.
  const File reader = open_raw(path, O_RDONLY);
  ASSERT_TRUE(replace_file_atomically(path, std::string("sec\0nd", 6)).ok());
  EXPECT_EQ(read_file(path), std::string("sec\0nd", 6));
  char old[6] = {};
  EXPECT_EQ(::pread(fd_of(reader), old, sizeof old, 0), 6);
  EXPECT_EQ(std::string(old, 6), "first,");
  EXPECT_EQ(entries_in(dir.path()), 1u);

  const auto failed = replace_file_atomically(dir / "missing" / "state.json", "x");
  ASSERT_FALSE(failed.ok());
  EXPECT_NE(failed.error().message.find("(os error 2)"), std::string::npos);
}

}  // namespace
}  // namespace tallow::platform
