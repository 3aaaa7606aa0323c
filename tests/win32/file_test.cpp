// Files as the tray meets them on Windows: shared with an agent that writes,
// replaces and locks them at the same time.

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agent_side/agent_side.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/win32/scoped_handle.h"
#include "support/test_support.h"

namespace tallow::platform {
namespace {

using agent_side::lock_file_exclusively;
using agent_side::replace_file_atomically;
using test::TempDir;
using test::read_file;
using test::write_file;
using win32::ScopedHandle;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

ScopedHandle open_raw(const std::filesystem::path& path, DWORD access, DWORD share,
                      DWORD disposition = OPEN_EXISTING) {
  return ScopedHandle(
      CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool write_raw(HANDLE file, std::string_view bytes) {
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::size_t entries_in(const std::filesystem::path& directory) {
  std::size_t count = 0;
  for (auto it = std::filesystem::directory_iterator(directory); it != decltype(it)(); ++it) ++count;
  return count;
}

bool running_under_wine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool lock_whole(HANDLE file) {
  OVERLAPPED at_start{};
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 0xFFFFFFFF,
                    0xFFFFFFFF, &at_start);
}

TEST(ReadRegularFile, ReadsUpToTheLimitAndNoMore) {
  TempDir dir;
  const auto path = dir / "status.json";
  write_file(path, "0123456789");
  struct Case {
    std::size_t max_bytes;
    bool present;
  };
  for (const Case c : {Case{10, true}, Case{11, true}, Case{SIZE_MAX, true}, Case{9, false},
                       Case{0, false}}) {
    const auto content = read_regular_file(path, c.max_bytes);
    EXPECT_EQ(content.has_value(), c.present) << c.max_bytes;
    if (content) {
      EXPECT_EQ(*content, "0123456789");
    }
  }
  write_file(path, "");
  EXPECT_EQ(read_regular_file(path, 0), "");
}

TEST(ReadRegularFile, ReadsAFileLargerThanOneChunk) {
  TempDir dir;
  std::string big(3 * 1024 * 1024 + 17, 'x');
  for (std::size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>('a' + i % 26);
  write_file(dir / "big", big);
  EXPECT_EQ(read_regular_file(dir / "big", big.size()), big);
  EXPECT_EQ(read_regular_file(dir / "big", big.size() - 1), std::nullopt);
}

TEST(ReadRegularFile, MissingDirectoryAndDeviceReadAsAbsent) {
  TempDir dir;
  EXPECT_EQ(read_regular_file(dir / "missing", 100), std::nullopt);
  EXPECT_EQ(read_regular_file(dir.path(), 100), std::nullopt);
  EXPECT_EQ(read_regular_file("NUL", 100), std::nullopt);
}

TEST(ReadRegularFile, ReadsWhileAWriterHoldsTheFileWithDeleteAccess) {
  // The agent's writer may hold the file with DELETE access (to rename over it).
  // That only coexists with our reader when the reader shares delete access too.
  TempDir dir;
  const auto path = dir / "status.json";
  write_file(path, "{}");
  const ScopedHandle writer = open_raw(path, GENERIC_WRITE | DELETE, kShareAll);
  ASSERT_TRUE(writer) << GetLastError();
  EXPECT_EQ(read_regular_file(path, 100), "{}");
}

TEST(ReadRegularFile, ReadsWhatAnotherHandleHasWritten) {
  TempDir dir;
  const auto path = dir / "log";
  const ScopedHandle writer =
      open_raw(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_NEW);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(write_raw(writer.get(), "partial"));
  EXPECT_EQ(read_regular_file(path, 100), "partial");
}

TEST(ReadRegularFile, ANameHeldByAReaderCanBeRenamedAndDeleted) {
  // What the agent may do to status.json while the tray reads it, with the reader
  // opened exactly as read_regular_file opens it.
  TempDir dir;
  const auto path = dir / "status.json";
  write_file(path, "old");
  const ScopedHandle reader = open_raw(path, GENERIC_READ, kShareAll);
  ASSERT_TRUE(reader);
  EXPECT_EQ(read_regular_file(path, 100), "old");
  EXPECT_TRUE(MoveFileExW(path.c_str(), (dir / "moved").c_str(), 0)) << GetLastError();
  EXPECT_TRUE(DeleteFileW((dir / "moved").c_str())) << GetLastError();
}

TEST(OpenLogForAppend, AppendsAndNeverTruncates) {
  TempDir dir;
  const auto path = dir / "tallowmered.log";
  write_file(path, "earlier\n");
  {
    auto first = open_log_for_append(path);
    auto second = open_log_for_append(path);
    ASSERT_TRUE(first.ok()) << first.error().message;
    ASSERT_TRUE(second.ok()) << second.error().message;
    // Two writers each land at the current end, never over each other.
    ASSERT_TRUE(write_raw(win32::handle_of(first.value()), "one\n"));
    ASSERT_TRUE(write_raw(win32::handle_of(second.value()), "two\n"));
    ASSERT_TRUE(write_raw(win32::handle_of(first.value()), "three\n"));
  }
  EXPECT_EQ(read_file(path), "earlier\none\ntwo\nthree\n");
}

TEST(OpenLogForAppend, CreatesAMissingLogThatIsNotInherited) {
  TempDir dir;
  auto log = open_log_for_append(dir / "new.log");
  ASSERT_TRUE(log.ok()) << log.error().message;
  DWORD flags = 0;
  ASSERT_TRUE(GetHandleInformation(win32::handle_of(log.value()), &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
  EXPECT_TRUE(std::filesystem::exists(dir / "new.log"));
}

TEST(OpenLogForAppend, TheLogCanBeDeletedAndRenamedWhileOpen) {
  TempDir dir;
  auto log = open_log_for_append(dir / "a.log");
  ASSERT_TRUE(log.ok());
  EXPECT_TRUE(MoveFileExW((dir / "a.log").c_str(), (dir / "b.log").c_str(), 0)) << GetLastError();
  EXPECT_TRUE(DeleteFileW((dir / "b.log").c_str())) << GetLastError();
}

TEST(OpenLogForAppend, RefusesANamedPipeOrADevice) {
  const std::wstring name = L"\\\\.\\pipe\\tallow-log-" + std::to_wstring(GetCurrentProcessId());
  ScopedHandle server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0,
                                       nullptr));
  ASSERT_TRUE(server) << GetLastError();
  const auto pipe = open_log_for_append(name);
  ASSERT_FALSE(pipe.ok());
  EXPECT_EQ(pipe.error().message, path_text(name) + " is not a regular file");
  const auto device = open_log_for_append(L"NUL");
  ASSERT_FALSE(device.ok());
  EXPECT_NE(device.error().message.find(" is not a regular file"), std::string::npos);
}

TEST(OpenLogForAppend, FailsWithTheSystemsReason) {
  TempDir dir;
  auto log = open_log_for_append(dir / "missing-directory" / "x.log");
  ASSERT_FALSE(log.ok());
  EXPECT_NE(log.error().message.find("(os error 3)"), std::string::npos) << log.error().message;
}

TEST(ReplaceFileAtomically, ReplacesTheWholeContentAndLeavesNothingBeside) {
  TempDir dir;
  const auto path = dir / "config.json";
  for (const std::string& content :
       std::vector<std::string>{"first", "second, longer", std::string("n\0l", 3), ""}) {
    const auto replaced = replace_file_atomically(path, content);
    ASSERT_TRUE(replaced.ok()) << replaced.error().message;
    EXPECT_EQ(read_file(path), content);
  }
  EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(ReplaceFileAtomically, ReplacesUnderAReaderThatSharesDelete) {
  if (running_under_wine()) GTEST_SKIP() << "Wine renames over no open file";
  TempDir dir;
  const auto path = dir / "status.json";
  write_file(path, "old");
  const ScopedHandle reader = open_raw(path, GENERIC_READ, kShareAll);
  ASSERT_TRUE(reader);
  const auto replaced = replace_file_atomically(path, "new");
  ASSERT_TRUE(replaced.ok()) << replaced.error().message;
  EXPECT_EQ(read_regular_file(path, 100), "new");
  // The reader keeps what it opened.
  char buffer[8] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(reader.get(), buffer, sizeof(buffer), &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "old");
}

TEST(ReplaceFileAtomically, WaitsOutAReaderThatHoldsTheTargetForAMoment) {
  // Where a rename cannot replace an open file, the tray's periodic read of
  // status.json must not make the agent's write of it fail.
  TempDir dir;
  const auto path = dir / "status.json";
  write_file(path, "old");
  ScopedHandle reader = open_raw(path, GENERIC_READ, kShareAll);
  ASSERT_TRUE(reader);
  std::atomic<bool> finished{false};
  Result<void> replaced;
  std::thread writer([&] {
    replaced = replace_file_atomically(path, "new");
    finished = true;
  });
  // Let go once the writer has its new content ready beside the target (or is done).
  EXPECT_TRUE(test::wait_until([&] { return finished || entries_in(dir.path()) > 1; }));
  reader.reset();
  writer.join();
  ASSERT_TRUE(replaced.ok()) << replaced.error().message;
  EXPECT_EQ(read_file(path), "new");
  EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(ReplaceFileAtomically, AFailureKeepsTheOldContentAndLeavesNothingBeside) {
  TempDir dir;
  const auto path = dir / "status.json";
  write_file(path, "old");
  {
    // A reader that does not share delete access blocks every kind of rename over it.
    const ScopedHandle reader = open_raw(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(reader);
    const auto replaced = replace_file_atomically(path, "new");
    ASSERT_FALSE(replaced.ok());
    EXPECT_NE(replaced.error().message.find("(os error "), std::string::npos);
  }
  EXPECT_EQ(read_file(path), "old");
  EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(ReplaceFileAtomically, FailsWithTheSystemsReasonAndLeavesNothingBeside) {
  TempDir dir;
  std::filesystem::create_directory(dir / "taken");
  const auto replaced = replace_file_atomically(dir / "taken", "x");
  ASSERT_FALSE(replaced.ok());
  EXPECT_NE(replaced.error().message.find("(os error "), std::string::npos);
  EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(CreateDirectories, CreatesEveryMissingParentAndAcceptsExisting) {
  TempDir dir;
  const auto deep = dir / "a" / "b c" / "d\u00e9";
  ASSERT_TRUE(platform::create_directories(deep).ok());
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  EXPECT_TRUE(platform::create_directories(deep).ok());
  EXPECT_TRUE(platform::create_directories(dir.path()).ok());
  auto with_separator = deep / "e";
  with_separator += L"\\";
  EXPECT_TRUE(platform::create_directories(with_separator).ok());
  EXPECT_TRUE(std::filesystem::is_directory(deep / "e"));
}

TEST(CreateDirectories, FailsThroughAFile) {
  TempDir dir;
  write_file(dir / "file", "x");
  for (const auto& path : {dir / "file", dir / "file" / "sub" / "dir"}) {
    const auto created = platform::create_directories(path);
    ASSERT_FALSE(created.ok()) << path.string();
    EXPECT_NE(created.error().message.find("(os error "), std::string::npos);
  }
}

TEST(IsFileLockedElsewhere, FalseForMissingUnlockedAndDirectories) {
  TempDir dir;
  EXPECT_FALSE(is_file_locked_elsewhere(dir / "missing.lock"));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.lock"));
  EXPECT_FALSE(is_file_locked_elsewhere(dir.path()));
  write_file(dir / "free.lock", "");
  EXPECT_FALSE(is_file_locked_elsewhere(dir / "free.lock"));
  // The probe gave its lock back.
  const ScopedHandle other = open_raw(dir / "free.lock", GENERIC_READ | GENERIC_WRITE, kShareAll);
  ASSERT_TRUE(other);
  EXPECT_TRUE(lock_whole(other.get()));
}

TEST(IsFileLockedElsewhere, TrueWhileAnotherHandleHoldsTheLock) {
  TempDir dir;
  const auto path = dir / "tallowmered.lock";
  {
    const ScopedHandle holder = open_raw(path, GENERIC_READ | GENERIC_WRITE, kShareAll, CREATE_NEW);
    ASSERT_TRUE(holder);
    ASSERT_TRUE(write_raw(holder.get(), "12345"));
    ASSERT_TRUE(lock_whole(holder.get()));
    EXPECT_TRUE(is_file_locked_elsewhere(path));
    EXPECT_TRUE(is_file_locked_elsewhere(path));
  }
  EXPECT_FALSE(is_file_locked_elsewhere(path));
}

TEST(LockFileExclusively, HoldsTheLockUntilReleased) {
  TempDir dir;
  const auto path = dir / "tallowmered.lock";
  {
    auto lock = lock_file_exclusively(path);
    ASSERT_TRUE(lock.ok()) << lock.error().message;
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(is_file_locked_elsewhere(path));
    auto second = lock_file_exclusively(path);
    ASSERT_FALSE(second.ok());
    EXPECT_NE(second.error().message.find("(os error 33)"), std::string::npos)
        << second.error().message;
    // Others may still read the file the lock is on.
    EXPECT_TRUE(open_raw(path, GENERIC_READ, kShareAll));
  }
  EXPECT_FALSE(is_file_locked_elsewhere(path));
  EXPECT_TRUE(lock_file_exclusively(path).ok());
}

TEST(File, ClosesItsHandleAndMovesOwnership) {
  TempDir dir;
  auto log = open_log_for_append(dir / "a.log");
  ASSERT_TRUE(log.ok());
  File file = std::move(log.value());
  const HANDLE handle = win32::handle_of(file);
  File moved;
  moved = std::move(file);
  EXPECT_FALSE(file.valid());
  EXPECT_EQ(win32::handle_of(moved), handle);
  moved.reset();
  EXPECT_FALSE(moved.valid());
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(handle, &flags));
  // A null handle is no handle at all.
  File from_null(File(0));
  File assigned;
  assigned = std::move(from_null);
  EXPECT_FALSE(assigned.valid());
}

}  // namespace
}  // namespace tallow::platform
